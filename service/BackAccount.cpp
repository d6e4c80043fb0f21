// obtain_host_id, login, obtain_root_folder, system_message.
#include "protocol/WireValue.h"
#include "service/BackHandlers.h"

std::vector<SoapOperation> BackOperations(ServiceParts& parts) {
  std::vector<SoapOperation> operations;
  AddAccountOperations(parts, operations);
  AddListingOperations(parts, operations);
  AddChangeOperations(parts, operations);
  return operations;
}

bool ReadNumber(pugi::xml_node node, const char* name, int64_t& value) {
  const pugi::xml_attribute attribute = node.attribute(name);
  return attribute && *attribute.value() && ReadDecimal(attribute.value(), value);
}

bool ResolvePath(ServiceParts& parts, const Viewer& viewer, const SoapCall& call, const char* name,
                 Location& location, CSoapReply& reply) {
  const int reason = parts.tree.Resolve(viewer, call.body.attribute(name).value(), location);
  if (reason) reply.Fail(reason);
  return reason == 0;
}

namespace {

// A computer registers before it has a host id: no host check.
void ObtainHostId(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  const pugi::xml_attribute name = call.body.attribute("computer_name");
  if (!name) return reply.Fail(kReasonFormat);
  SetAttribute(reply.Body(), "host_id", parts.accounts.RegisterHost(caller.user.id, name.value()));
}

// The credentials are the whole login.
void Login(ServiceParts&, const Caller&, const SoapCall&, CSoapReply&) {}

void ObtainRootFolder(ServiceParts&, const Caller& caller, const SoapCall&, CSoapReply& reply) {
  SetAttribute(reply.Body(), "root_folder", caller.user.name);
}

void SystemMessages(ServiceParts& parts, const Caller&, const SoapCall&, CSoapReply& reply) {
  for (const SystemMessage& message : parts.accounts.Messages()) {
    pugi::xml_node node = reply.Body().append_child("message");
    SetAttribute(node, "id", static_cast<long long>(message.id));
    SetAttribute(node, "type", static_cast<long long>(message.type));
    SetAttribute(node, "create_time", static_cast<long long>(message.createTime));
    SetAttribute(node, "expire_time", static_cast<long long>(message.expireTime));
    SetAttribute(node, "info", message.info);
  }
}

}  // namespace

void AddAccountOperations(ServiceParts& parts, std::vector<SoapOperation>& operations) {
  operations.push_back(BindOperation("obtain_host_id", true, false, parts, ObtainHostId));
  operations.push_back(BindOperation("login", true, true, parts, Login));
  operations.push_back(BindOperation("obtain_root_folder", true, true, parts, ObtainRootFolder));
  operations.push_back(BindOperation("system_message", true, true, parts, SystemMessages));
}
