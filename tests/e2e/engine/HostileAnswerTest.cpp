// Answers a hostile or broken service could give, one row each, made by a
// proxy that changes the real service's answers. For every row vessa-sync
// must end within a bound with the expected exit code, keep its memory
// bounded, write nothing outside the user folder and log what it refused;
// the next run, with honest answers again, finishes and agrees with the
// service.
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>

#include "foundation/Util.h"
#include "tests/e2e/engine/EngineFixture.h"
#include "tests/e2e/engine/TreeState.h"
#include "tests/support/Md5Text.h"
#include "tests/support/MutatingProxy.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRunLimitMs = 60000;
constexpr long kMemoryLimitKiB = 128 * 1024;  // about 25 MiB used, 70 MiB under AddressSanitizer
constexpr std::size_t kChunk = 4 * 1024 * 1024;
constexpr const char* kHeld = "held content";

// What a row knows when it changes an answer.
struct Context {
  std::string root;     // the user's server root
  std::string outside;  // a folder beside the client's root folder
};

struct Row {
  const char* name;
  const char* payload;  // the answer it changes, by its payload element; null: every answer
  std::function<bool(std::string& body, const Context& context)> change;
  int exitCode;
  std::string logged;  // a fragment of the client's log; "{root}" stands for the server root
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

bool ReplaceFirst(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return false;
  text.replace(at, from.size(), to);
  return true;
}

// A file_list entry of one chunk.
std::string ListEntry(const std::string& name, const std::string& size, const std::string& chunks,
                      const std::string& count = "1") {
  return "<file file_name=\"" + name + "\" modify_time=\"5\" dir_flag=\"no\" file_size=\"" + size +
         "\"><chunk_list chunk_num=\"" + count + "\">" + chunks + "</chunk_list></file>";
}

// The listing with one more entry.
std::function<bool(std::string&, const Context&)> AddEntry(std::function<std::string(const Context&)> entry) {
  return [entry](std::string& body, const Context& context) {
    return ReplaceFirst(body, "</file_list_rsp>", entry(context) + "</file_list_rsp>");
  };
}

std::function<bool(std::string&, const Context&)> AddFile(std::function<std::string(const Context&)> name) {
  return AddEntry([name](const Context& context) { return ListEntry(name(context), "4", Md5Text("evil")); });
}

// The listed size of held.txt replaced by `size`.
std::function<bool(std::string&, const Context&)> HeldSize(const std::string& size) {
  return [size](std::string& body, const Context&) {
    return ReplaceFirst(body, "file_size=\"" + std::to_string(std::strlen(kHeld)) + "\"", "file_size=\"" + size + "\"");
  };
}

std::function<bool(std::string&, const Context&)> HeldCount(const std::string& count) {
  return [count](std::string& body, const Context&) {
    return ReplaceFirst(body, "chunk_num=\"1\">" + Md5Text(kHeld), "chunk_num=\"" + count + "\">" + Md5Text(kHeld));
  };
}

// The listing's body replaced by `plain` compressed, announced as `announced` bytes.
bool PackListing(std::string& body, const std::string& plain, const std::string& announced) {
  uLongf packedLength = compressBound(plain.size());
  std::string packed(packedLength, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &packedLength, reinterpret_cast<const Bytef*>(plain.data()),
           plain.size());
  std::string base64;
  CUtil::Base64Encode(packed.data(), packedLength, base64);
  const std::size_t open = body.find("<file_list_rsp");
  const std::size_t close = body.find("</file_list_rsp>");
  if (open == std::string::npos || close == std::string::npos) return false;
  body.replace(open, close - open, "<file_list_rsp compress=\"" + announced + "\">" + base64);
  return true;
}

// A compressed listing of `inflated` bytes of made-up entries.
std::function<bool(std::string&, const Context&)> Inflating(std::size_t inflated, const std::string& announced) {
  return [inflated, announced](std::string& body, const Context& context) {
    std::string plain;
    while (plain.size() < inflated) {
      plain += ListEntry(context.root + "/x" + std::to_string(plain.size()) + ".txt", "1", Md5Text("x"));
    }
    return PackListing(body, plain, announced);
  };
}

// The listing's own entries, compressed.
std::function<bool(std::string&, const Context&)> Recompressed(const std::string& announced) {
  return [announced](std::string& body, const Context&) {
    const std::size_t open = body.find('>', body.find("<file_list_rsp"));
    const std::size_t close = body.find("</file_list_rsp>");
    if (open == std::string::npos || close == std::string::npos) return false;
    return PackListing(body, body.substr(open + 1, close - open - 1), announced);
  };
}

// The attachment of a download_chunk answer: its last byte changed, or
// `extra` bytes added to it.
std::function<bool(std::string&, const Context&)> Attachment(std::size_t extra) {
  return [extra](std::string& body, const Context&) {
    const std::size_t end = body.rfind("\r\n--MIMEBoundary_");
    if (end == std::string::npos || end == 0) return false;
    if (extra == 0) {
      body[end - 1] = static_cast<char>(body[end - 1] ^ 0x5A);
    } else {
      body.insert(end, std::string(extra, 'x'));
    }
    return true;
  };
}

std::function<bool(std::string&, const Context&)> CutAt(double fraction) {
  return [fraction](std::string& body, const Context&) {
    body.resize(static_cast<std::size_t>(static_cast<double>(body.size()) * fraction));
    return true;
  };
}

const Row kRows[] = {
    {"a listed path that climbs out with ../", "file_list_rsp",
     AddFile([](const Context& c) { return c.root + "/../escaped-up.txt"; }), 1,
     "Refuse server entry {{root}/../escaped-up.txt}: its path leaves the user folder"},
    {"an absolute listed path", "file_list_rsp",
     AddFile([](const Context& c) { return c.outside + "/escaped-absolute.txt"; }), 1,
     "its path leaves the user folder"},
    {"a listed path that climbs out with backslashes", "file_list_rsp",
     AddFile([](const Context& c) { return c.root + "/..\\..\\escaped-back.txt"; }), 1,
     "its path leaves the user folder"},
    {"a listed name with a control byte", "file_list_rsp",
     AddFile([](const Context& c) { return c.root + "/bell&#7;escaped.txt"; }), 1,
     "its name holds a control character"},
    // The parser ends the name at the NUL: the shortened name is one the
    // service does not know.
    {"a listed name with a NUL byte", "file_list_rsp",
     AddFile([](const Context& c) { return c.root + "/nul&#0;escaped.txt"; }), 1, "Fail to download file {{root}/nul}"},
    {"a listed name of 5000 bytes", "file_list_rsp",
     AddFile([](const Context& c) { return c.root + "/" + std::string(5000, 'n'); }), 1,
     "entries of the server listing cannot be read"},
    {"the size of a held file listed as 2^62", "file_list_rsp", HeldSize("4611686018427387904"), 1,
     "does not fit its 1 chunks"},
    // A size its chunk cannot give: every attempt to assemble the file fails.
    {"the size of a held file given below its chunk's", nullptr, HeldSize("5"), 1,
     "Mismatched size 12 with 5"},
    {"the size of a held file listed as -5", "file_list_rsp", HeldSize("-5"), 1,
     "Invalid size {-5} of {{root}/held.txt}"},
    {"a chunk count far above the list", "file_list_rsp", HeldCount("2147483647"), 1, "Malformed chunk list"},
    {"a negative chunk count", "file_list_rsp", HeldCount("-1"), 1, "Malformed chunk list"},
    {"a malformed listing", "file_list_rsp",
     [](std::string& body, const Context&) { return ReplaceFirst(body, "<file ", "<file <"); }, 1,
     "CBack::GetList"},
    {"a listing cut in half", "file_list_rsp", CutAt(0.5), 1, "CBack::GetList"},
    {"a listing that inflates past its announced length", "file_list_rsp", Inflating(3 << 20, "1000"), 1,
     "UnCompress string fail"},
    {"a listing announced above its bound", "file_list_rsp", Inflating(1000, "300000000"), 1,
     "Refused a listing announced as 300000000 bytes"},
    // Within the bound the announced length is room, not memory used.
    {"a small listing announced as 200 MB", "file_list_rsp", Recompressed("200000000"),
     0, "get server files counts"},
    {"an entry listed twice", "file_list_rsp",
     AddEntry([](const Context& c) { return ListEntry(c.root + "/held.txt", std::to_string(std::strlen(kHeld)), Md5Text(kHeld)); }),
     0, "get server files counts"},
    // The first of two entries of one name counts: a file whose chunk the
    // service does not know.
    {"a file listed before a folder of the same name", "file_list_rsp",
     [](std::string& body, const Context& c) {
       return ReplaceFirst(body, "<file file_name=\"" + c.root + "/docs\"",
                           ListEntry(c.root + "/docs", "4", Md5Text("evil")) + "<file file_name=\"" + c.root + "/docs\"");
     },
     1, "Fail to download file {{root}/docs}"},
    {"a file listed after a folder of the same name", "file_list_rsp",
     AddEntry([](const Context& c) { return ListEntry(c.root + "/docs", "4", Md5Text("evil")); }), 0,
     "get server files counts"},
    {"chunk content that is not the chunk", "download_chunk_rsp", Attachment(0), 1,
     "Mismatched content of chunk"},
    {"an attachment of 5 MiB", "download_chunk_rsp", Attachment(1 << 20), 1,
     "Refused an attachment of 5242880 bytes (limit 4194304)"},
    {"a chunk answer cut short", "download_chunk_rsp", CutAt(0.6), 1, "CTransmitter::DownloadChunk"},
};

class HostileAnswerTest : public EngineE2ETest, public testing::WithParamInterface<Row> {
 protected:
  // vessa-sync once through the proxy: its exit code, -2 when it outlived the bound.
  int RunSync() {
    ChildProgram sync;
    const std::vector<std::string> args = {"--root", Root(), "--user", "alice", "--host-name", "hostile-pc",
                                           "--auth-server", proxy_->Url("/vorportal/LoginServlet"), "--once"};
    std::vector<std::string> environment = {"VESSA_PASSWORD=alice-pw", "HOME=" + Root("home"),
                                            "XDG_CONFIG_HOME=" + Root("home")};
    if (!sync.StartToFile(VESSA_SYNC_PROGRAM, args, environment, Root("sync.out"))) return -3;
    int code = 0;
    if (!sync.WaitFor(kRunLimitMs, code)) {
      sync.Signal(SIGKILL);
      sync.WaitFor(kRunLimitMs, code);
      return -2;
    }
    lastRssKiB_ = sync.PeakRssKiB();
    return code;
  }

  std::string ClientLog() const {
    std::string text;
    for (const std::string& file : FilesBelow(Root() + "/.log")) text += ReadFile(file);
    return text;
  }

  // The client's error lines, to show with a failure.
  std::string ErrorLines() const {
    std::string lines;
    const std::string log = ClientLog();
    for (std::size_t at = 0; at < log.size();) {
      const std::size_t end = std::min(log.find('\n', at), log.size());
      const std::string line = log.substr(at, end - at);
      if (line.find("<error>") != std::string::npos || line.find("<fatal>") != std::string::npos) {
        lines += line.substr(0, 300) + "\n";
      }
      at = end + 1;
    }
    return lines;
  }

  std::unique_ptr<MutatingProxy> proxy_;
  long lastRssKiB_ = 0;
};

TEST_P(HostileAnswerTest, EndsBoundedWritesNothingOutsideAndRecovers) {
  const Row& row = GetParam();
  proxy_ = std::make_unique<MutatingProxy>(service_->Port());
  fs::create_directories(Root("home"));
  fs::create_directories(Root("outside"));
  ServerUser other(service_->AuthUrl(), "alice", "alice-pw", "other-pc");
  ASSERT_TRUE(other.Ready());
  ASSERT_TRUE(other.PutFile("/held.txt", kHeld, ServerTime(1)));
  ASSERT_TRUE(other.PutFolder("/docs"));
  ASSERT_TRUE(other.PutFile("/docs/a.txt", "in docs", ServerTime(2)));
  ASSERT_EQ(RunSync(), 0) << ReadFile(Root("sync.out"));
  ASSERT_TRUE(other.PutFile("/new.bin", TestBytes(kChunk, 3), ServerTime(3)));  // something to download
  fs::remove_all(Root() + "/.log");

  const Context context{other.Root(), Root("outside")};
  proxy_->SetMutation([&](ProxiedExchange& exchange) {
    return (!row.payload || exchange.payload == row.payload) && row.change(exchange.body, context);
  });
  const int code = RunSync();
  const std::size_t mutated = proxy_->Mutated();
  proxy_->SetMutation(nullptr);
  EXPECT_GT(mutated, 0u) << "the row changed no answer";
  EXPECT_EQ(code, row.exitCode) << ReadFile(Root("sync.out"));
  EXPECT_LT(lastRssKiB_, kMemoryLimitKiB);
  std::string logged = row.logged;
  ReplaceFirst(logged, "{root}", other.Root());
  EXPECT_NE(ClientLog().find(logged), std::string::npos) << logged << "\n" << ErrorLines();
  EXPECT_TRUE(fs::is_empty(Root("outside")));
  for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find("escaped"), std::string::npos) << entry.path();
  }

  EXPECT_EQ(RunSync(), 0) << ReadFile(Root("sync.out"));
  EXPECT_EQ(LocalTree(Root() + "/alice"), ServiceTree(other, *service_));
  EXPECT_EQ(ReadFile(Root() + "/alice/held.txt"), kHeld);
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileAnswerTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) {
                           std::string name;
                           for (const char c : std::string(info.param.name)) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

}  // namespace
