#include "screen_text.h"

namespace vesksim {

const char* flagName(std::uint16_t pictureCode, int* flagType) {
  // Flag types 1 to 7 travel as these picture codes. The names are this
  // simulator's labels: type 1 is also what the end of a race shows.
  struct Entry {
    std::uint16_t picture;
    int type;
    const char* name;
  };
  static constexpr Entry table[] = {{1, 1, "chequered"}, {5, 2, "green"}, {4, 3, "yellow"}, {6, 4, "blue"},
                                    {7, 5, "red"},       {8, 6, "black"}, {9, 7, "white"}};
  for (const Entry& e : table) {
    if (e.picture != pictureCode) continue;
    if (flagType) *flagType = e.type;
    return e.name;
  }
  return nullptr;
}

std::string describeScreen(const Screen& s) {
  switch (s.kind) {
    case ScreenKind::None:
      return "-";
    case ScreenKind::Flag: {
      int type = 0;
      const char* name = flagName(s.picture, &type);
      return name ? "flag " + std::to_string(type) + " " + name : "flag picture " + std::to_string(s.picture);
    }
    case ScreenKind::Picture:
      return "picture " + std::to_string(s.picture);
    case ScreenKind::Position:
      return "position " + std::to_string(s.position);
    case ScreenKind::Passing:
      return "passing " + std::to_string(s.position);
    case ScreenKind::Text7: {
      std::string texts;
      bool any = false;
      for (std::size_t i = 0; i < s.lines.size(); ++i) {
        const std::string t = s.lines[i].str();
        any = any || !t.empty();
        texts += (i ? " | " : "") + t;
      }
      return (any ? texts : std::string("blank")) + " on " + std::to_string(s.picture);
    }
    case ScreenKind::Text0:
    case ScreenKind::Text8: {
      std::string texts;
      for (std::size_t i = 0; i < s.lines.size(); ++i) texts += (i ? " / " : "") + s.lines[i].str();
      return "text " + texts;
    }
    case ScreenKind::Other:
      break;
  }
  return "layout " + std::to_string(s.layout);
}

}  // namespace vesksim
