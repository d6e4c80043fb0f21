#include "shell/RecentUpdates.h"

#include "shell/Commands.h"

namespace {

constexpr int kMaxItems = cmd::kRecentLast - cmd::kRecentNone;  // 9

}  // namespace

std::vector<RecentUpdate> BuildRecentUpdates(const std::vector<std::string>& finished) {
  std::vector<RecentUpdate> items;
  auto entry = finished.rbegin();
  for (int i = 1; i <= kMaxItems && entry != finished.rend(); ++i, ++entry) {
    const std::string& text = *entry;
    const std::size_t blank = text.find(' ');
    if (blank == std::string::npos || blank == 0) continue;
    const std::size_t slash = text.rfind('/');
    if (slash == std::string::npos || blank + 1 >= slash) continue;
    items.push_back({cmd::kRecentNone + i, text, text.substr(blank + 1, slash - blank - 1)});
  }
  return items;
}
