// The main window's layout: every control with its place, size, text, font,
// initial state, tab order and hint. The form model takes texts and initial
// states from here; the Win32 window also takes places, sizes and fonts.
// Positions are pixels at 96 dpi relative to the client area (C1..C4: to G6).
#pragma once

#include <array>
#include <string_view>

namespace lu14 {

// The controls, in the order in which they are created.
enum class ControlId { Label1, B1, Pr1, LB, G6, C1, C2, C3, C4, Button1, E1 };
inline constexpr std::size_t kControlCount = 11;

enum class ControlKind { Label, Button, ProgressBar, ListBox, GroupBox, CheckBox, Edit };

// height: character height in pixels; an empty face means the window's font.
struct FontSpec {
  std::string_view face;
  int height;
  bool bold;
};

struct ControlLayout {
  ControlId id;
  ControlKind kind;
  int left, top, width, height;
  std::string_view text;
  FontSpec font;
  bool enabled;
  bool visible;
  int tabOrder;  // -1: not a tab stop; C1..C4 count within G6
  bool insideGroup;
  std::string_view hint;
  bool hintsOn;  // hints switched on for this control (the window has them off)
};

inline constexpr std::string_view kLayoutCaption = "Прошивка";
inline constexpr int kClientWidth = 587;
inline constexpr int kClientHeight = 217;
inline constexpr FontSpec kWindowFont{"Tahoma", 11, false};
inline constexpr int kProgressInitialMax = 127;

inline constexpr FontSpec kInheritedFont{};  // the window's font
inline constexpr FontSpec kGroupFont{"Tahoma", 13, false};

// The texts carry their exact characters: C1 begins with a Latin "A" (U+0041),
// C2 holds a Latin "U", C4 has two blanks before "(см. форум)", and the C1 hint
// begins with a Cyrillic "А"; the C3 hint has two blanks in three places.
inline constexpr std::array<ControlLayout, kControlCount> kControlLayouts{{
    {ControlId::Label1, ControlKind::Label, 16, 80, 94, 20, "Пинцет ЛУ", {"MS Sans Serif", 16, true},
     true, true, -1, false, "", false},
    {ControlId::B1, ControlKind::Button, 8, 8, 369, 42, "Обновить прошивку", {"MS Sans Serif", 13, true},
     false, true, 0, false, "Жмем для обновления прошивки", false},
    {ControlId::Pr1, ControlKind::ProgressBar, 8, 56, 369, 16, "", kInheritedFont, true, true, 1, false, "", false},
    {ControlId::LB, ControlKind::ListBox, 383, 8, 202, 206, "", {"Tahoma", 12, false}, true, true, 2, false, "",
     false},
    {ControlId::G6, ControlKind::GroupBox, 8, 112, 369, 102, "Дополнительно", kGroupFont, true, true, 3, false,
     "Рокировка длительного и короткого поворота по часовой в RLC режиме", false},
    {ControlId::C1, ControlKind::CheckBox, 15, 93, 258, 17, "Aвто сохранение последнего режима", kGroupFont, false,
     false, 0, true, "Авто сохранение последнего режима при выключении", true},
    {ControlId::C2, ControlKind::CheckBox, 15, 24, 322, 17, "Изменение U при подключенной емкости >1мкФ", kGroupFont,
     true, true, 1, true, "Рокировка длительного(2 пика) и короткого (1пик) поворота по часовой", true},
    {ControlId::C3, ControlKind::CheckBox, 15, 47, 194, 17, "Рокировка действий в меню", kGroupFont, true, true, 2,
     true, "Рокировка  поворота  по часовой  и против часовой", true},
    {ControlId::C4, ControlKind::CheckBox, 15, 70, 298, 17, "Доработка прибора ЛУ14  (см. форум)", kGroupFont, false,
     true, 3, true, "", false},
    {ControlId::Button1, ControlKind::Button, 16, 232, 75, 25, "Button1", kInheritedFont, true, true, 4, false, "",
     false},
    {ControlId::E1, ControlKind::Edit, 104, 234, 121, 21, "E1", kInheritedFont, true, true, 5, false, "", false},
}};

constexpr const ControlLayout& LayoutOf(ControlId id) { return kControlLayouts[static_cast<std::size_t>(id)]; }

}  // namespace lu14
