#pragma once
// Stateless helpers shared by every part of the client: folders and files,
// conflict names, digests, code-page conversions, the texts of the service's
// reason codes, the installation's registry values, the system proxy, Base64,
// decompression and the purge of old logs.
//
// Text is bytes of the local code page (platform/CodePage.h) unless a function
// says otherwise. Functions that fail log under "CUtil::<name>".
#include <cstddef>
#include <cstdint>
#include <string>

class CUtil {
 public:
  // ---- folders and files (never follow symbolic links inside a tree) ----

  // True when `path` names a folder (a link to a folder counts).
  static bool FolderExists(const std::string& path);
  // True when `inner` is `outer` or lies below it (links resolved).
  static bool IsInsideFolder(const std::string& inner, const std::string& outer);
  // True when anything (file, folder or link) exists at `path`.
  static bool PathExists(const std::string& path);
  // Creates the folder (one level, mode 0700) unless it exists; false only
  // when that creation fails.
  static bool CreateFolderIfMissing(const std::string& path);
  // Deletes the folder and everything below it, read-only entries included.
  // Links are removed as links; their targets are never touched. Logs
  // "Fail to remove folder:%s error code: %d" when the folder stays. Always 1.
  static int DeleteFolder(const std::string& path);
  // Moves or copies a file or folder to `to`, or into `to` when that is an
  // existing folder; missing parent folders of the target are created.
  // Copies keep modification times (the sync engine compares them) and copy
  // links as links. A move across file systems copies, then deletes the
  // source once all of it arrived. A folder is never copied into itself.
  static bool MoveFiles(const std::string& from, const std::string& to);
  static bool CopyFiles(const std::string& from, const std::string& to);
  // Deletes a file or a folder with everything below it.
  static bool DeleteFiles(const std::string& from);
  // Asks open file managers to redraw; nothing to do on Linux.
  static void RefreshExplorer() {}
  // Deletes the "*.log" files in `folder` last written more than `days` days
  // ago (creating the folder when missing). Always 1.
  static int PurgeOldLogs(const std::string& folder, int days);

  // ---- names and digests ----

  // name + ".conflict(YYYY-MM-DD-hh-mm-ss-mmm)" with the local time now.
  static std::string ConflictName(const std::string& name);
  // MD5 as 32 hex digits, lower case (upper case when the digest-case switch
  // is on). False, `out` untouched, for null data or zero length.
  static bool Md5Hex(const void* data, std::size_t length, std::string& out);
  // Process-wide digest-case switch, 0 at start; the login turns it on.
  static void SetDigestUpperCase(int on);
  static int DigestUpperCase();
  // 32 hex digits -> 16 bytes. 0 when the text is not 32 hex digits.
  static int HexToBytes(const std::string& hex, unsigned char out[16]);
  // Appends the 16 bytes as 32 upper-case hex digits. Returns 1.
  static int BytesToHex(const unsigned char bytes[16], std::string& out);
  // For each 4096-byte block (the last one shorter) appends "<weak sum>," to
  // `weakList` and "<MD5 upper case>," to `strongList`; `count` = blocks.
  // The strong list alone, as BlockSignatureLists gives it. Returns 1.
  static int BlockHashList(const void* data, std::size_t length, std::string& strongList);
  static int BlockSignatureLists(const void* data, std::size_t length, std::string& weakList,
                                 std::string& strongList, int& count);

  // ---- text conversions ----

  // In place; characters that cannot be represented become "?".
  static void Utf8ToAnsi(std::string& text);
  static void AnsiToUtf8(std::string& text);
  // AnsiToUtf8, then "&" -> "&amp;": a text value for a SOAP request.
  static std::string XmlText(const std::string& text);
  // The database path as SQLite wants it. SQLite on Linux opens the file name
  // bytes as given, which are already the bytes the file functions use.
  static std::string PathToUtf8(const std::string& path) { return path; }
  // Decodes the service's character references into local text. Null input,
  // input of 2081 bytes or more and conversion failures give "" (logged).
  static std::string ChnDecode(const char* text);
  static std::string ChnDecode(const std::string& text) { return ChnDecode(text.c_str()); }

  // ---- service reason codes ----

  // The Chinese text shown for reason code 1..29 (local code page); "" otherwise.
  static std::string ServerErrorText(int code);

  // ---- installation values and system settings ----

  // Read buffers of the two values: a value must fit with its terminating NUL.
  static constexpr std::size_t kInstallPathBuffer = 80;
  static constexpr std::size_t kRootPathBuffer = 160;
  static bool ReadInstallPath(std::string& out);
  static bool ReadRootPath(std::string& out);
  // False when the path (with its NUL) does not fit 160 bytes or cannot be written.
  static bool WriteRootPath(const std::string& path);
  // The system proxy as "host:port"; false when there is none.
  static bool GetIEProxySet(std::string& out);
  // Split "host:port" at the last ":"; no ":" gives the whole text and "80".
  static std::string ProxyHost(const std::string& address);
  static std::string ProxyPort(const std::string& address);

  // ---- encodings and compression ----

  // Standard Base64 without line breaks; returns the length of `out`.
  static int Base64Encode(const void* data, std::size_t length, std::string& out);
  // Skips characters outside the alphabet and stops at the first "=".
  static void Base64Decode(const std::string& text, std::string& out);
  static std::string EncodePassword(const std::string& text);
  static std::string DecodePassword(const std::string& text);
  // Base64-decodes `base64Text`, writes "garbage" into `out`, then inflates
  // the decoded bytes (zlib) into out[0..capacity-1]. `inflatedLength`, when
  // given, receives the number of bytes produced. On a zlib error logs
  // " UnCompress string fail, error code :%d" and returns false, leaving
  // "garbage" in the buffer. `capacity` must be at least 8.
  static bool UnCompress(const std::string& base64Text, char* out, std::size_t capacity,
                         std::size_t* inflatedLength = nullptr);
};
