#include "live_view.h"

namespace vesksim {

namespace {

constexpr std::size_t kConsoleLines = 12;
constexpr std::size_t kConsoleWidth = 110;

std::string pad(std::string text, std::size_t width) {
  if (text.size() > width) text = text.substr(0, width - 1) + "~";
  text.resize(width, ' ');
  return text;
}

std::string lastMessage(const DisplayRow& row) {
  if (row.state.frameCount == 0) return "-";
  const std::string id = std::to_string(row.state.lastMsgId);
  switch (row.last) {
    case AckState::Acknowledged: return id + " acknowledged";
    case AckState::Waiting: return id + " waiting";
    case AckState::Lost: return id + " lost";
    case AckState::None: break;
  }
  return id;
}

std::string rpm(const DisplayRow& row) { return row.state.rpmLimit ? std::to_string(*row.state.rpmLimit) : "-"; }

std::string displayName(const DisplayRow& row) {
  std::string name = std::to_string(row.number);
  if (row.busAddress) name += "@bus" + std::to_string(row.busAddress);
  return name;
}

}  // namespace

LiveView::LiveView(bool terminal, std::string programName, std::FILE* out)
    : terminal_(terminal), programName_(std::move(programName)), out_(out) {}

void LiveView::consoleLine(const std::string& line) {
  // The bridge begins many of its lines with a line end: empty lines say nothing here.
  if (line.find_first_not_of(" \r\t") == std::string::npos) return;
  std::lock_guard lock(mutex_);
  fresh_.push_back(programName_ + "| " + line);
  console_.push_back(line);
  if (console_.size() > kConsoleLines) console_.pop_front();
}

void LiveView::note(const std::string& line) {
  std::lock_guard lock(mutex_);
  fresh_.push_back("vesksim| " + line);
  console_.push_back("[vesksim] " + line);
  if (console_.size() > kConsoleLines) console_.pop_front();
}

std::string LiveView::rowText(const DisplayRow& row) {
  const bool usb = row.busAddress == 0;
  return pad(displayName(row), 12) + pad(describeScreen(row.state.screen), 44) + pad(rpm(row), 7) +
         pad(usb ? lastMessage(row) : std::to_string(row.state.lastMsgId), 18) +
         pad(usb ? std::to_string(row.acks) : "-", 6) + (usb ? std::to_string(row.lost) : "-");
}

std::string LiveView::table(const std::vector<DisplayRow>& rows) {
  std::string text = pad("display", 12) + pad("shows", 44) + pad("rpm", 7) + pad("last message", 18) +
                     pad("acks", 6) + "lost\n";
  for (const DisplayRow& row : rows) text += rowText(row) + "\n";
  return text;
}

void LiveView::refresh(const std::vector<DisplayRow>& rows, const std::string& status) {
  std::lock_guard lock(mutex_);
  if (!terminal_) {
    for (const std::string& line : fresh_) std::fprintf(out_, "%s\n", line.c_str());
    fresh_.clear();
    for (const DisplayRow& row : rows) {
      // A line for each frame a display takes and each loss; acknowledgements
      // alone do not make one.
      const std::string key = std::to_string(row.state.frameCount) + "|" + std::to_string(row.lost);
      std::string& before = plainRows_[row.number];
      if (key == before) continue;
      before = key;
      std::fprintf(out_, "display %s: %s, rpm %s, last message %s, %zu frames, %zu acks, %zu lost\n",
                   displayName(row).c_str(), describeScreen(row.state.screen).c_str(), rpm(row).c_str(),
                   lastMessage(row).c_str(), row.state.frameCount, row.acks, row.lost);
    }
    std::fflush(out_);
    return;
  }
  fresh_.clear();
  std::string text = "vesksim  " + status + "\n\n" + table(rows) + "\n---- " + programName_ + " ----\n";
  for (const std::string& line : console_) text += (line.size() > kConsoleWidth ? line.substr(0, kConsoleWidth) : line) + "\n";
  if (text == drawn_) return;
  drawn_ = text;
  // Home, clear to the end, then the whole picture: no curses needed.
  std::fprintf(out_, "\x1b[H\x1b[J%s", text.c_str());
  std::fflush(out_);
}

}  // namespace vesksim
