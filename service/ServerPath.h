#pragma once
// Paths as the service sees them. On the wire a server path is a first
// component naming a tree (the user's root name, or a share id in decimal)
// followed by "/" and the rest. Inside the service a tree path is "/a/b",
// and "" is the tree's root. Nothing a client sends ever becomes a file
// name: only these checked texts reach the database.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t kMaxServerPath = 2048;  // the client cannot read longer names back

struct ServerPathParts {
  std::string head;  // first component
  std::string rest;  // "" or a tree path "/a/b"
};

// False for a path the service refuses: empty, longer than kMaxServerPath,
// holding a control byte or "\", or with an empty, "." or ".." component.
bool SplitServerPath(const std::string& path, ServerPathParts& parts);

// A tree path given by the administrator ("docs/x" or "/docs/x"); false
// when invalid. The root ("" or "/") gives "".
bool NormalizeTreePath(const std::string& text, std::string& treePath);

// A share id: decimal digits only, 2 .. 2^31-1.
bool ParseShareId(const std::string& text, int64_t& id);

// "/a/b" -> "/a", "/a" -> "".
std::string ParentPath(const std::string& treePath);
// "/a/b" -> "b".
std::string BaseName(const std::string& treePath);
// True when `path` lies strictly below `folder` ("" holds every path).
bool IsBelow(const std::string& path, const std::string& folder);
bool IsAtOrBelow(const std::string& path, const std::string& folder);
// `path` with its leading `from` replaced by `to` (IsAtOrBelow(path, from)).
std::string Rebase(const std::string& path, const std::string& from, const std::string& to);

// A user name that can be a root name and a Digest user: 1..64 bytes, not
// only digits (share ids are), no "/", "\", ":", control bytes, no "." or
// "..", no blank at either end.
bool IsValidUserName(const std::string& name);
