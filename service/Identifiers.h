#pragma once
// Identifiers the service hands out (passports, host ids, storage keys) and
// the check that keeps a storage key usable as a file name.
#include <cstddef>
#include <string>

// `digits` lower-case hex digits from the system's secure random source.
std::string RandomHex(std::size_t digits);

// Storage keys are 32 lower-case hex digits; nothing else may name a file
// in the chunk folder.
bool IsStorageKey(const std::string& text);
std::string NewStorageKey();

// A chunk key as clients send it: 32 hex digits of either case.
bool IsChunkKey(const std::string& text);
// The form chunks are filed under: lower case.
std::string ChunkId(const std::string& key);

// MD5 of the bytes as 32 lower-case hex digits.
std::string Md5Lower(const void* data, std::size_t length);
