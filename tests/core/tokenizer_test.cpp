#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/bounded_text.h"
#include "config/tokenizer.h"

namespace {

struct Taken {
  std::string item;
  int disc;
};

// Splits text the way the readers leave a list: capacity bytes, zero behind
// the value.
// disc is the list's disc before its first item.
std::vector<Taken> Split(const std::string& text, size_t capacity = kTextCapacity,
                         int32_t disc = 0) {
  std::vector<char> list(capacity, '\0');
  CopyText(list.data(), capacity, text.c_str());
  const char* cursor = list.data();
  std::vector<Taken> taken;
  char item[kPathCapacity];
  while (NextItem(item, cursor, list.data() + capacity, &disc)) {
    taken.push_back({item, disc});
    if (taken.size() > 100) break;
  }
  return taken;
}

std::vector<std::string> Items(const std::string& text) {
  std::vector<std::string> items;
  for (const Taken& t : Split(text)) items.push_back(t.item);
  return items;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(ItemDelimiter, ExactlyNulLfCrAndComma) {
  for (int c = 0; c < 256; ++c) {
    bool expected = c == 0 || c == '\n' || c == '\r' || c == ',';
    EXPECT_EQ(IsItemDelimiter(static_cast<unsigned char>(c)), expected) << c;
  }
}

TEST(NextItem, BlanksAreSkippedOnlyInFrontOfAnItem) {
  EXPECT_EQ(Items("a, b ,c"), (Strings{"a", "b ", "c"}));
  EXPECT_EQ(Items("\ta"), (Strings{"\ta"}));
  EXPECT_EQ(Items("  x y  "), (Strings{"x y  "}));
}

TEST(NextItem, AnEmptyItemWithoutPrefixEndsTheList) {
  EXPECT_EQ(Items("a,,b"), (Strings{"a"}));
  EXPECT_EQ(Items(" ,a"), Strings{});
  EXPECT_EQ(Items(",a"), Strings{});
  EXPECT_EQ(Items(""), Strings{});
  EXPECT_EQ(Items("a\r\nb"), (Strings{"a"}));
}

TEST(NextItem, EndOfListLeavesCursorOnDelimiterAndItemUntouched) {
  char list[16] = " ,a";
  const char* cursor = list;
  char item[8] = "keep";
  EXPECT_EQ(NextItem(item, cursor, list + sizeof list), 0);
  EXPECT_EQ(cursor, list + 1);
  EXPECT_STREQ(item, "keep");
}

TEST(NextItem, CursorEndsOnePastTheDelimiter) {
  char list[16] = "ab,c";
  const char* cursor = list;
  char item[8];
  ASSERT_EQ(NextItem(item, cursor, list + sizeof list), 1);
  EXPECT_EQ(cursor, list + 3);
  ASSERT_EQ(NextItem(item, cursor, list + sizeof list), 1);
  EXPECT_EQ(cursor, list + 5);  // past the terminator
  EXPECT_EQ(NextItem(item, cursor, list + sizeof list), 0);
}

TEST(NextItem, DiscPrefixes) {
  std::vector<Taken> t = Split("2:x,y,0:z", kTextCapacity, 7);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].item, "x");
  EXPECT_EQ(t[0].disc, 2);
  EXPECT_EQ(t[1].item, "y");
  EXPECT_EQ(t[1].disc, 2);
  EXPECT_EQ(t[2].item, "z");
  EXPECT_EQ(t[2].disc, 0);

  // A drive letter is taken as a prefix; a non-digit gives disc 0.
  t = Split("C:\\dir\\file", kTextCapacity, 4);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].item, "\\dir\\file");
  EXPECT_EQ(t[0].disc, 0);

  t = Split("5:");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].item, "");
  EXPECT_EQ(t[0].disc, 5);

  EXPECT_EQ(Items("5: x"), (Strings{" x"}));
  EXPECT_EQ(Items("3:,b"), (Strings{"", "b"}));

  t = Split("12:x", kTextCapacity, 6);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].item, "12:x");
  EXPECT_EQ(t[0].disc, 6);  // untouched; carried in from before the list
}

TEST(NextItem, EveryPrefixGivesADiscFrom0To9) {
  for (int c = 1; c < 256; ++c) {
    if (IsItemDelimiter(static_cast<unsigned char>(c)) || c == ' ') continue;
    std::string text = std::string(1, static_cast<char>(c)) + ":x";
    std::vector<Taken> t = Split(text, kTextCapacity, -1);
    ASSERT_EQ(t.size(), 1u) << c;
    EXPECT_GE(t[0].disc, 0) << c;
    EXPECT_LE(t[0].disc, 9) << c;
    EXPECT_EQ(t[0].disc, c >= '0' && c <= '9' ? c - '0' : 0) << c;
  }
}

TEST(NextItem, DoubleByteCharactersPassThroughWhole) {
  EXPECT_EQ(Items("表示.bmp,ソフト\\能力"), (Strings{"表示.bmp", "ソフト\\能力"}));
  std::vector<Taken> t = Split("1:ゲーム表,十");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].item, "ゲーム表");
  EXPECT_EQ(t[1].disc, 1);
}

TEST(NextItem, ALongItemIsCutAndTheNextItemIsTheRealNextOne) {
  std::string longItem(300, 'a');
  std::vector<Taken> t = Split(longItem + ",next," + std::string(259, 'b'));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].item, std::string(259, 'a'));
  EXPECT_EQ(t[1].item, "next");
  EXPECT_EQ(t[2].item, std::string(259, 'b'));

  // A small slot: nothing is written past it.
  char list[32] = "abcdefgh,ij";
  char slot[6] = {'.', '.', '.', '.', '.', '.'};
  char guard[4] = {'G', 'G', 'G', '\0'};
  const char* cursor = list;
  ASSERT_EQ(NextItem(slot, 4, cursor, list + sizeof list), 1);
  EXPECT_STREQ(slot, "abc");
  EXPECT_EQ(slot[4], '.');
  EXPECT_STREQ(guard, "GGG");
  ASSERT_EQ(NextItem(slot, 4, cursor, list + sizeof list), 1);
  EXPECT_STREQ(slot, "ij");
}

TEST(NextItem, ACutItemEndsOnAWholeCharacter) {
  // A lead byte left alone in the last place of the slot would take the
  // separator that a path join appends as its second byte (82 5C reads as
  // one character), so the cut falls before the character.
  struct Case {
    const char* list;
    size_t slot;
    const char* item;
  } cases[] = {
      {"abcde表,next", 7, "abcde"},    // 95 5C: only the lead byte would fit
      {"abcdあ,next", 7, "abcdあ"},    // 82 A0 fits whole
      {"abcdeあい,next", 8, "abcdeあ"},
      {"表表表表,next", 8, "表表表"},
  };
  for (const Case& c : cases) {
    char list[32] = {};
    CopyText(list, c.list);
    const char* cursor = list;
    char slot[16];
    ASSERT_EQ(NextItem(slot, c.slot, cursor, list + sizeof list), 1) << c.list;
    EXPECT_EQ(std::string(slot), c.item) << c.list;
    ASSERT_EQ(NextItem(slot, c.slot, cursor, list + sizeof list), 1) << c.list;
    EXPECT_STREQ(slot, "next");
  }
  // The same at the size of a path slot.
  std::vector<Taken> t = Split(std::string(258, 'a') + "ソフト,b");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].item, std::string(258, 'a'));
  EXPECT_EQ(t[1].item, "b");
}

TEST(NextItem, AListThatFillsItsBufferEndsAtTheBufferEnd) {
  // Exactly capacity bytes on the heap, so a read behind them is caught by
  // the address sanitizer; the last byte is the value's terminator.
  for (const char* text : {"aaaaaaa,bbbbbbb", "aaaaaaaaaaaaaa,", "    ,          ", "aaaaaaaaaaaa,9:"}) {
    size_t capacity = 16;
    auto list = std::make_unique<char[]>(capacity);
    CopyText(list.get(), capacity, text);
    const char* cursor = list.get();
    char item[kPathCapacity];
    int taken = 0;
    while (NextItem(item, cursor, list.get() + capacity) && taken < 10) ++taken;
    EXPECT_LE(taken, 2) << text;
    EXPECT_LE(cursor, list.get() + capacity) << text;
    EXPECT_EQ(NextItem(item, cursor, list.get() + capacity), 0) << text;
  }

  // Stale text behind the filled part is never taken as a further item.
  char list[32];
  std::memset(list, 'x', sizeof list);
  CopyText(list, 8, "ab,cdef");
  const char* cursor = list;
  char item[8];
  ASSERT_EQ(NextItem(item, cursor, list + 8), 1);
  ASSERT_EQ(NextItem(item, cursor, list + 8), 1);
  EXPECT_STREQ(item, "cdef");
  EXPECT_EQ(NextItem(item, cursor, list + 8), 0);
}

TEST(ParseDecimal, SignsDigitsAndWraparound) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"12abc", 12},          {"abc", 0},
      {"", 0},                {"  \t-7", -7},
      {"+42", 42},            {"-", 0},
      {"+-3", 0},             {"2147483647", 2147483647},
      {"2147483648", INT32_MIN}, {"4294967295", -1},
      {"4294967296", 0},      {"4294967301", 5},
      {"-2147483649", INT32_MAX},
      {"1234567890123456789", static_cast<int32_t>(static_cast<uint32_t>(1234567890123456789ULL))},
  };
  for (const Case& c : cases) {
    int32_t value = 99;
    ParseDecimal(c.text, value);
    EXPECT_EQ(value, c.value) << c.text;
  }
  // A long run of digits wraps digit by digit like unsigned 32-bit arithmetic.
  uint32_t expected = 0;
  std::string digits;
  for (int i = 0; i < 40; ++i) {
    digits += static_cast<char>('0' + i % 10);
    expected = expected * 10u + static_cast<uint32_t>(i % 10);
  }
  int32_t value = 0;
  ParseDecimal(("-" + digits).c_str(), value);
  EXPECT_EQ(static_cast<uint32_t>(value), 0u - expected);
}
