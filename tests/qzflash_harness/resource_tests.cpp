// The resources of the program under test, read from its file: the fixed
// identifiers, texts, styles and sizes that the system's dialogs and menus
// are built from.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "run_support.h"

namespace {

struct DialogItem {
  DWORD style = 0;
  int id = 0;
  int classAtom = 0;      // 0x80 button, 0x82 static, 0x83 list box; 0 when named
  std::string className;  // when named
  std::string text;
  int textOrdinal = -1;   // an icon control names its icon by number
};

struct DialogTemplate {
  DWORD style = 0;
  int cx = 0, cy = 0;
  int pointSize = 0;
  std::string face, caption;
  std::vector<DialogItem> items;
};

struct Cursor {
  const uint8_t* at;
  const uint8_t* end;
  bool bad = false;
  uint32_t Take(int size) {
    if (end - at < size) {
      bad = true;
      return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) value |= uint32_t(*at++) << (8 * i);
    return value;
  }
  std::string Text() {
    std::string text;
    for (uint32_t c = Take(2); c && !bad; c = Take(2)) text += char(c);
    return text;
  }
  // A name or a number (0xFFFF then the number).
  void NameOrNumber(std::string* name, int* number) {
    uint32_t first = Take(2);
    if (first == 0xFFFF) {
      *number = int(Take(2));
    } else if (first != 0) {
      *name = char(first) + Text();
    }
  }
  void Align(const uint8_t* base) {
    while ((at - base) % 4) ++at;
  }
};

bool ReadDialog(HMODULE module, int id, DialogTemplate* dialog) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
  if (!found) return false;
  const uint8_t* base = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  Cursor c = {base, base + SizeofResource(module, found)};
  dialog->style = c.Take(4);
  c.Take(4);
  int count = int(c.Take(2));
  c.Take(2);
  c.Take(2);
  dialog->cx = int(c.Take(2));
  dialog->cy = int(c.Take(2));
  std::string ignored;
  int number = 0;
  c.NameOrNumber(&ignored, &number);  // menu
  c.NameOrNumber(&ignored, &number);  // class
  dialog->caption = c.Text();
  if (dialog->style & DS_SETFONT) {
    dialog->pointSize = int(c.Take(2));
    dialog->face = c.Text();
  }
  for (int i = 0; i < count && !c.bad; ++i) {
    c.Align(base);
    DialogItem item;
    item.style = c.Take(4);
    c.Take(4);
    for (int k = 0; k < 4; ++k) c.Take(2);
    item.id = int(c.Take(2));
    c.NameOrNumber(&item.className, &item.classAtom);
    c.NameOrNumber(&item.text, &item.textOrdinal);
    c.at += c.Take(2);  // creation data
    dialog->items.push_back(item);
  }
  return !c.bad;
}

const DialogItem* Item(const DialogTemplate& dialog, int id, const char* text = nullptr) {
  for (const DialogItem& item : dialog.items)
    if (item.id == id && (!text || item.text == text)) return &item;
  return nullptr;
}

class Resources : public ::testing::Test {
 protected:
  HMODULE module = nullptr;
  void SetUp() override {
    module = LoadLibraryExA(ProgramExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module) << ProgramExe;
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }
};

TEST_F(Resources, StringsIconsMenuAndAccelerators) {
  char text[128];
  ASSERT_GT(LoadStringA(module, 103, text, sizeof text), 0);
  EXPECT_STREQ(text, "DOVIZOZIDA Flash Program");
  ASSERT_GT(LoadStringA(module, 109, text, sizeof text), 0);
  EXPECT_STREQ(text, "QZFLASH");
  for (int icon : {107, 108, 130}) EXPECT_TRUE(FindResourceA(module, MAKEINTRESOURCEA(icon), MAKEINTRESOURCEA(14))) << icon;

  HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(109));
  ASSERT_TRUE(menu);
  ASSERT_EQ(GetMenuItemCount(menu), 2);
  GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "&File");
  GetMenuStringA(menu, 1, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "&Help");
  struct Entry {
    const char* text;
    UINT id;
    bool grayed;
  };
  const Entry file[] = {{"Update BIOS", 32774, false}, {"Restore BIOS", 32780, true}, {"Save BIOS", 32773, false},
                        {"Exit", 105, false}};
  HMENU fileMenu = GetSubMenu(menu, 0);
  ASSERT_EQ(GetMenuItemCount(fileMenu), 4);
  for (int i = 0; i < 4; ++i) {
    GetMenuStringA(fileMenu, i, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, file[i].text);
    EXPECT_EQ(GetMenuItemID(fileMenu, i), file[i].id);
    EXPECT_EQ((GetMenuState(fileMenu, i, MF_BYPOSITION) & MF_GRAYED) != 0, file[i].grayed) << file[i].text;
  }
  HMENU helpMenu = GetSubMenu(menu, 1);
  ASSERT_EQ(GetMenuItemCount(helpMenu), 1);
  GetMenuStringA(helpMenu, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "&About ...");
  EXPECT_EQ(GetMenuItemID(helpMenu, 0), 104u);
  DestroyMenu(menu);

  HACCEL accelerators = LoadAcceleratorsA(module, MAKEINTRESOURCEA(109));
  ASSERT_TRUE(accelerators);
  ACCEL entries[8];
  ASSERT_EQ(CopyAcceleratorTableA(accelerators, entries, 8), 2);
  std::string keys;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(entries[i].cmd, 104);
    EXPECT_EQ(entries[i].fVirt & (FALT | FVIRTKEY | FCONTROL | FSHIFT), FALT) << "a character key with Alt";
    keys += char(entries[i].key);
  }
  EXPECT_EQ(keys, "?/");
}

TEST_F(Resources, Dialogs) {
  DialogTemplate about;
  ASSERT_TRUE(ReadDialog(module, 103, &about));
  EXPECT_EQ(about.caption, "About");
  EXPECT_EQ(about.pointSize, 8);
  EXPECT_EQ(about.face, "System");
  EXPECT_NE(about.style & WS_SYSMENU, 0u);
  const DialogItem* icon = Item(about, 0xFFFF);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->textOrdinal, 130);
  EXPECT_TRUE(Item(about, 0xFFFF, "DOVIZOZIDA Flash Program Version 1.0.5"));
  const DialogItem* ok = Item(about, IDOK, "OK");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->style & 0xF, DWORD(BS_DEFPUSHBUTTON));

  DialogTemplate cards;
  ASSERT_TRUE(ReadDialog(module, 131, &cards));
  EXPECT_EQ(cards.caption, "Card Selection Dialog ");
  EXPECT_EQ(cards.pointSize, 10);
  EXPECT_EQ(cards.face, "System");
  EXPECT_EQ(cards.cx, 252);
  EXPECT_EQ(cards.cy, 101);
  EXPECT_NE(cards.style & WS_CAPTION, 0u);
  EXPECT_EQ(cards.style & WS_SYSMENU, 0u);
  EXPECT_TRUE(Item(cards, 0xFFFF, "Please select a card from the list"));
  const DialogItem* list = Item(cards, 1000);
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->classAtom == 0x83 || _stricmp(list->className.c_str(), "ListBox") == 0) << list->className;
  DWORD wanted = WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT;
  EXPECT_EQ(list->style & wanted, wanted);
  EXPECT_EQ(list->style & (LBS_SORT | LBS_NOTIFY), 0u);
  ok = Item(cards, IDOK, "OK");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->style & 0xF, DWORD(BS_DEFPUSHBUTTON));
  EXPECT_TRUE(Item(cards, 7, "Cancel"));

  DialogTemplate dual;
  ASSERT_TRUE(ReadDialog(module, 133, &dual));
  EXPECT_EQ(dual.caption, "Dual BIOS information");
  EXPECT_EQ(dual.pointSize, 10);
  EXPECT_EQ(dual.face, "System");
  EXPECT_EQ(dual.cx, 187);
  EXPECT_EQ(dual.cy, 98);
  EXPECT_NE(dual.style & WS_SYSMENU, 0u);
  EXPECT_TRUE(Item(dual, 1007, "You are booted by the 2nd BIOS."));
  EXPECT_TRUE(Item(dual, 1008, "If you don't want to restore the 2nd BIOS data to the "));
  EXPECT_TRUE(Item(dual, 1009, "1st one , please click \"Cancel\" , or please click \"OK\" "));
  EXPECT_TRUE(Item(dual, 1010, " to process BIOS restoration"));
  ok = Item(dual, IDOK, "OK");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->style & 0xF, DWORD(BS_DEFPUSHBUTTON));
  EXPECT_TRUE(Item(dual, IDCANCEL, "Cancel"));
}

}  // namespace
