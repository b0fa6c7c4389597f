// The numeric edit's rules and the placement rules without a toolkit: what a typed
// character, a read of the text and a conversion give, and where a stored placement puts
// a form. Each toolkit's tests keep only what its widgets add (key events, the caret,
// applying a rectangle).
#include "NumberFilter.h"
#include "Placement.h"
#include "typed_keys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <tuple>

#ifdef _WIN32
#include <windows.h>
#else
#include "test_folder.h"
#endif

namespace {

std::tuple<int32_t, int32_t, int32_t, int32_t> Tie(const TPlacementRect& r) { return {r.Left, r.Top, r.Width, r.Height}; }

TEST(NumberRules, ReadingKeepsEmptyAndNumbersAndTurnsTheRestIntoZero) {
  const struct {
    const char16_t* Text;
    bool Real, Number;
  } cases[] = {
      {u"", false, true},           {u"2147483647", false, true}, {u"-2147483648", false, true},
      {u"+7", false, true},         {u"007", false, true},        {u"2147483648", false, false},
      {u"-2147483649", false, false}, {u" 5", false, false},      {u"5 ", false, false},
      {u"1.5", false, false},       {u"0x10", false, false},      {u"+", false, false},
      {u"12x", false, false},       {u"\uFF15", false, false},    {u"1.5", true, true},
      {u"-.5", true, true},         {u"3.", true, true},          {u"1e3", true, true},
      {u"+2E-3", true, true},       {u"1e999", true, false},      {u"inf", true, false},
      {u"nan", true, false},        {u"1.2.3", true, false},      {u".", true, false},
      {u"1e", true, false},         {u"0x1p3", true, false},      {u"1,5", true, false},
  };
  for (const auto& c : cases) {
    const std::u16string text = c.Text;
    SCOPED_TRACE(std::string(text.begin(), text.end()) + (c.Real ? " real" : " whole"));
    if (!text.empty()) {
      EXPECT_EQ(IsNumberText(text, c.Real), c.Number);
    }
    const TCheckedText checked = CheckText(text, c.Real);
    EXPECT_TRUE(checked.Text == (c.Number ? text : u"0"));
    EXPECT_EQ(checked.Replaced, !c.Number);
  }
}

TEST(NumberRules, TypedCharactersPassByTheTextLeftOnceTheSelectionIsReplaced) {
  for (const TTypedKey& c : kTypedKeys) {
    SCOPED_TRACE(testing::Message() << "char " << int(c.C) << " at " << c.Start << "+" << c.Length);
    bool read = false;
    const auto edit = [&] {
      read = true;
      return TEditState{c.Text, c.Start, c.Length};
    };
    EXPECT_EQ(AcceptsTypedChar(c.C, {c.Real, c.Minus}, edit), c.Accepted);
    EXPECT_EQ(read, c.Read);
  }
}

TEST(NumberRules, IntegerConversionAndItsErrors) {
  for (int32_t v : {0, -5, 12, INT32_MAX, INT32_MIN}) EXPECT_EQ(TextAsInteger(IntegerText(v)), v);
  EXPECT_EQ(TextAsInteger(u"+7"), 7);
  for (auto [text, message] :
       {std::pair{u"", "'' は整数ではありません"}, {u"2.5", "'2.5' は整数ではありません"}})
    EXPECT_THAT([&] { TextAsInteger(text); }, ::testing::ThrowsMessage<EConvertError>(message));
}

// A store of the test's own, with the form's key.
class PlacementRules : public ::testing::Test {
protected:
#ifdef _WIN32
  static constexpr const char* kRoot = "Software\\KorvelPlacementTest";
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kRoot); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kRoot); }
  std::string Where() { return kRoot; }
#else
  std::string Where() { return (NewTestFolder("placement") / "registry.reg").string(); }
#endif
  // A fresh store holding `stored` (names and values; "maximized" as the boolean).
  std::unique_ptr<TRegistryIniFile> Store(const std::vector<std::pair<const char*, int32_t>>& stored) {
#ifdef _WIN32
    RegDeleteTreeA(HKEY_CURRENT_USER, kRoot);
#endif
    Reg = std::make_unique<TRegistry>(Where());
    auto ini = std::make_unique<TRegistryIniFile>(*Reg, "\\Software\\Trevane\\Korvel\\fMain\\");
    for (auto [name, value] : stored)
      if (std::string(name) == "maximized")
        ini->WriteBool(name, value != 0);
      else
        ini->WriteInteger(name, value);
    return ini;
  }
  std::unique_ptr<TRegistry> Reg;
};

// A 269 x 280 form (or a sizeable one of that size) on a 1024 x 768 screen whose
// available area leaves out a task bar, unless a case brings its own screens.
TEST_F(PlacementRules, StoredValuesAreAppliedCutToTheScreenOrCentredWhenOffEveryScreen) {
  const TPlacementScreens desk{1024, 768, {{0, 0, 1024, 740}}};
  const struct {
    const char* Name;
    std::vector<std::pair<const char*, int32_t>> Stored;
    int Options;
    bool Sizeable;
    std::optional<TPlacementScreens> Screens;
    TPlacementRect Want;
    bool Maximized = false;
  } cases[] = {
      {"first start: centred", {}, soSavePosition, false, {}, {377, 244, 269, 280}},
      {"position not kept", {{"left", 5}, {"top", 6}}, 0, false, {}, {0, 0, 269, 280}},
      {"partly off screen: as stored, size cut", {{"left", -200}, {"top", 50}, {"width", 1524}, {"height", 150}},
       soSavePosition, true, {}, {-200, 50, 1024, 150}},
      {"off every screen: centred", {{"left", -3024}, {"top", 50}, {"width", 300}, {"height", 150}},
       soSavePosition, true, {}, {362, 309, 300, 150}},
      {"a fixed form keeps its size", {{"left", 10}, {"top", 20}, {"width", 300}, {"height", 250}},
       soSavePosition, false, {}, {10, 20, 269, 280}},
      {"unless sizes are always kept", {{"left", 10}, {"top", 20}, {"width", 300}, {"height", 250}},
       soSavePosition | soSaveDimensionAlways, false, {}, {10, 20, 300, 250}},
      {"maximized over the normal rectangle", {{"left", 20}, {"top", 25}, {"maximized", 1}}, soSavePosition, false,
       {}, {20, 25, 269, 280}, true},
      {"a screen smaller than the form", {}, soSavePosition, false, TPlacementScreens{200, 150, {}},
       {-34, -65, 200, 150}},
      {"centring truncates toward zero", {}, soSavePosition, true, TPlacementScreens{268, 279, {}}, {0, 0, 268, 279}},
      {"far end: moved back into the range", {{"left", INT32_MAX}, {"top", INT32_MAX - 100}}, soSavePosition, false,
       TPlacementScreens{1024, 768, {}}, {INT32_MAX - 269, INT32_MAX - 280, 269, 280}},
      {"near end: kept", {{"left", INT32_MIN}, {"top", INT32_MIN}}, soSavePosition, false,
       TPlacementScreens{1024, 768, {}}, {INT32_MIN, INT32_MIN, 269, 280}},
      {"far end off every screen: centred", {{"left", INT32_MAX}, {"top", INT32_MAX}}, soSavePosition, false, {},
       {377, 244, 269, 280}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto ini = Store(c.Stored);
    const TPlacement p = ReadStoredPlacement(*ini, c.Options, c.Sizeable, 269, 280, c.Screens.value_or(desk));
    EXPECT_EQ(Tie(p.Normal), Tie(c.Want));
    EXPECT_EQ(p.Maximized, c.Maximized);
  }
}

// What is written, read back as the next start reads it.
TEST_F(PlacementRules, WrittenValuesFollowTheOptionsAndReadBackTheSame) {
  const TPlacementScreens wide{4000, 3000, {}};
  const struct {
    int Options;
    bool Sizeable;
    std::vector<std::string> Written;
  } cases[] = {
      {0, true, {}},
      {soSavePosition, false, {"left", "top", "maximized"}},
      {soSavePosition, true, {"left", "top", "width", "height", "maximized"}},
      {soSavePosition | soSaveDimensionAlways, false, {"left", "top", "width", "height", "maximized"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "options " << c.Options << (c.Sizeable ? " sizeable" : " fixed"));
    auto ini = Store({});
    const TPlacement placed{{-30, 40, 500, 300}, true};
    WriteStoredPlacement(*ini, c.Options, c.Sizeable, placed);
    std::vector<std::string> written;
    for (const char* name : {"left", "top", "width", "height", "maximized"})
      if (Reg->ReadValue(ini->KeyPath(), name)) written.push_back(name);
    EXPECT_EQ(written, c.Written);
    if (c.Options == 0) continue;
    const TPlacement again = ReadStoredPlacement(*ini, c.Options, c.Sizeable, 500, 300, wide);
    EXPECT_EQ(Tie(again.Normal), Tie(placed.Normal));
    EXPECT_TRUE(again.Maximized);
  }
}

}  // namespace
