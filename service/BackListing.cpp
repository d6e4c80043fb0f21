// download_all_file, download_specific_file, file_list.
#include <zlib.h>

#include <sstream>

#include "foundation/Util.h"
#include "service/BackHandlers.h"

namespace {

void SetFolderAttributes(pugi::xml_node node, const ListedEntry& entry) {
  if (entry.dir > 1) {
    SetAttribute(node, "shared", "yes");
    SetAttribute(node, "folder_id", static_cast<long long>(entry.dir));
    SetAttribute(node, "owner_name", entry.owner);
  } else {
    SetAttribute(node, "shared", "no");
  }
}

void SetChunk(pugi::xml_node node, const ChunkRef& chunk) {
  SetAttribute(node, "MD5", chunk.key);
  SetAttribute(node, "storage_key", chunk.storageKey);
  SetAttribute(node, "chunk_size", static_cast<long long>(chunk.size));
}

// download_all_file: size, count and every chunk as child elements.
void AppendFullEntry(pugi::xml_node files, const ListedEntry& entry) {
  pugi::xml_node node = files.append_child("file");
  SetAttribute(node, "file_name", entry.serverPath);
  SetAttribute(node, "modify_time", static_cast<long long>(entry.mtime));
  SetAttribute(node, "dir", entry.dir ? "yes" : "no");
  if (entry.dir) return SetFolderAttributes(node, entry);
  node.append_child("file_size").text().set(static_cast<long long>(entry.size));
  node.append_child("chunk_num").text().set(static_cast<long long>(entry.chunks.size()));
  for (const ChunkRef& chunk : entry.chunks) SetChunk(node.append_child("chunk"), chunk);
}

// file_list: the chunk keys as one comma-joined list.
void AppendListEntry(pugi::xml_node container, const ListedEntry& entry) {
  pugi::xml_node node = container.append_child("file");
  SetAttribute(node, "file_name", entry.serverPath);
  SetAttribute(node, "modify_time", static_cast<long long>(entry.mtime));
  SetAttribute(node, "dir_flag", entry.dir ? "yes" : "no");
  if (entry.dir) return SetFolderAttributes(node, entry);
  SetAttribute(node, "file_size", static_cast<long long>(entry.size));
  std::string keys;
  for (const ChunkRef& chunk : entry.chunks) keys += (keys.empty() ? "" : ",") + chunk.key;
  pugi::xml_node list = node.append_child("chunk_list");
  SetAttribute(list, "chunk_num", static_cast<long long>(entry.chunks.size()));
  list.text().set(keys.c_str());
}

// The file elements as UTF-8 text, zlib-compressed, in Base64: the body's
// text, with the uncompressed length in "compress".
void Compress(pugi::xml_node body, const std::vector<ListedEntry>& entries) {
  pugi::xml_document scratch;
  pugi::xml_node holder = scratch.append_child("holder");
  for (const ListedEntry& entry : entries) AppendListEntry(holder, entry);
  std::ostringstream text;
  for (pugi::xml_node file : holder.children()) file.print(text, "", pugi::format_raw);
  const std::string plain = text.str();
  uLongf packedLength = compressBound(plain.size());
  std::string packed(packedLength, '\0');
  if (compress(reinterpret_cast<Bytef*>(packed.data()), &packedLength,
               reinterpret_cast<const Bytef*>(plain.data()), plain.size()) != Z_OK) {
    throw std::runtime_error("listing compression failed");
  }
  std::string base64;
  CUtil::Base64Encode(packed.data(), packedLength, base64);
  SetAttribute(body, "compress", static_cast<long long>(plain.size()));
  body.text().set(base64.c_str());
}

void DownloadAll(ServiceParts& parts, const Caller& caller, const SoapCall&, CSoapReply& reply) {
  const Viewer viewer = parts.tree.LoadViewer(caller.user);
  std::vector<ListedEntry> entries;
  parts.tree.List(viewer, Location{caller.user.id, "", 0, false, false}, true, entries);
  pugi::xml_node files = reply.Body().append_child("files");
  for (const ListedEntry& entry : entries) AppendFullEntry(files, entry);
}

void DownloadSpecific(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  const Viewer viewer = parts.tree.LoadViewer(caller.user);
  Location location;
  if (!ResolvePath(parts, viewer, call, "file_name", location, reply)) return;
  EntryRecord entry;
  if (parts.tree.IsFolder(location)) return reply.Fail(5);
  if (!parts.tree.FindEntry(location.owner, location.path, entry)) return reply.Fail(7);
  const std::vector<ChunkRef> chunks = parts.tree.EntryChunks(entry.id);
  pugi::xml_node body = reply.Body();
  SetAttribute(body, "file_name", call.body.attribute("file_name").value());
  SetAttribute(body, "modify_time", static_cast<long long>(entry.mtime));
  SetAttribute(body, "file_size", static_cast<long long>(entry.size));
  SetAttribute(body, "chunk_num", static_cast<long long>(chunks.size()));
  for (const ChunkRef& chunk : chunks) SetChunk(body.append_child("chunk"), chunk);
}

void FileList(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply) {
  const Viewer viewer = parts.tree.LoadViewer(caller.user);
  Location location;
  if (!ResolvePath(parts, viewer, call, "folder_name", location, reply)) return;
  std::vector<ListedEntry> entries;
  if (const int reason = parts.tree.List(viewer, location, false, entries)) return reply.Fail(reason);
  if (entries.size() > parts.options.compressThreshold) return Compress(reply.Body(), entries);
  for (const ListedEntry& entry : entries) AppendListEntry(reply.Body(), entry);
}

}  // namespace

void AddListingOperations(ServiceParts& parts, std::vector<SoapOperation>& operations) {
  operations.push_back(BindOperation("download_all_file", true, true, parts, DownloadAll));
  operations.push_back(BindOperation("download_specific_file", true, true, parts, DownloadSpecific));
  operations.push_back(BindOperation("file_list", true, true, parts, FileList));
}
