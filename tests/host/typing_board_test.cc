// The typing board: one update a second per typist, stops always taken,
// expiry a few seconds after the last keystroke, and the notes that carry
// it between hosts.
#include "host/serve/typing_board.h"

#include <gtest/gtest.h>

#include "tests/support/host/manual_clock.h"

namespace zelto::serve {
namespace {

using std::chrono::milliseconds;

TypingNote Note(LONG cid, std::string typist, bool typing = true, std::string preview = "") {
  return TypingNote{cid, std::move(typist), "name", std::move(preview), typing};
}

TEST(TypingBoardTest, OneUpdateASecondStopsAlwaysExpiryAfterSilence) {
  testing::ManualClock clock;
  TypingBoard board(clock);
  const struct {
    milliseconds after;  // since the step before
    TypingNote note;
    bool changed;
  } steps[] = {
      {milliseconds(0), Note(7, "v:A"), true},           // a new typist
      {milliseconds(300), Note(7, "v:A", true, "he"), false},  // too soon: dropped
      {milliseconds(700), Note(7, "v:A", true, "hel"), true},  // a second on
      {milliseconds(10), Note(7, "o:5"), true},          // another typist, same chat
      {milliseconds(10), Note(7, "v:A", false), true},   // a stop, at once
      {milliseconds(10), Note(7, "v:A", false), false},  // a stop of nobody
      {milliseconds(10), Note(8, "v:A"), true},          // another chat
  };
  for (const auto& s : steps) {
    clock.Advance(s.after);
    EXPECT_EQ(board.Apply(s.note), s.changed) << s.note.typist << " in " << s.note.cid;
  }
  const auto in7 = board.TypingIn(7, "");
  ASSERT_EQ(in7.size(), 1u);
  EXPECT_EQ(in7[0].typist, "o:5");
  EXPECT_TRUE(board.TypingIn(7, "o:5").empty()) << "never one's own typing";

  clock.Advance(kTypingExpiry - milliseconds(1));
  EXPECT_EQ(board.TypingIn(8, "").size(), 1u);
  clock.Advance(milliseconds(1));
  EXPECT_TRUE(board.TypingIn(8, "").empty());
  EXPECT_TRUE(board.TypingIn(7, "").empty());
  EXPECT_EQ(board.size(), 0u) << "expired entries leave nothing behind once read";
}

TEST(TypingBoardTest, EachAcceptedUpdateGetsANewNumber) {
  testing::ManualClock clock;
  TypingBoard board(clock);
  board.Apply(Note(1, "v:A", true, "a"));
  const uint64_t first = board.TypingIn(1, "")[0].number;
  clock.Advance(kTypingInterval);
  board.Apply(Note(1, "v:A", true, "a"));  // the same text: still news (keeps it alive)
  EXPECT_GT(board.TypingIn(1, "")[0].number, first);
  // A note from another host is taken at once, already limited there.
  EXPECT_TRUE(board.Apply(Note(1, "v:A", true, "ab"), false));
  EXPECT_EQ(board.TypingIn(1, "")[0].preview, "ab");
}

TEST(TypingBoardTest, NotesSurviveTheTripAndStrangeTextsAreRefused) {
  const TypingNote note{42, "v:V123", "访客 \"x\"", "it's <b>\\ 你好", false};
  const auto back = TypingBoard::Decode(TypingBoard::Encode(note));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->cid, 42);
  EXPECT_EQ(back->typist, note.typist);
  EXPECT_EQ(back->name, note.name);
  EXPECT_EQ(back->preview, note.preview);
  EXPECT_FALSE(back->typing);
  for (const char* text : {"", "42", "{", "[]", "{\"typing\":\"42\"}",
                           "{\"typing\":1,\"typist\":\"v:A\",\"name\":\"\",\"preview\":\"\"}",
                           "{\"typing\":1,\"typist\":2,\"name\":\"\",\"preview\":\"\",\"on\":true}"}) {
    EXPECT_FALSE(TypingBoard::Decode(text)) << text;
  }
}

TEST(TypingBoardTest, ConversationsNobodyReadsAreSweptInTime) {
  testing::ManualClock clock;
  TypingBoard board(clock);
  for (LONG cid = 1; cid <= 500; ++cid) board.Apply(Note(cid, "v:A"));
  clock.Advance(kTypingExpiry);
  for (int i = 0; i < 1024; ++i) board.Apply(Note(1000, "v:B" + std::to_string(i)));
  EXPECT_LE(board.size(), 1024u) << "the 500 expired typists are gone";
}

}  // namespace
}  // namespace zelto::serve
