#include <gtest/gtest.h>

#include "script/board_script.h"

namespace {

std::string ErrorOf(const std::string& text) {
  BoardScript script;
  std::string error;
  EXPECT_FALSE(ParseBoardScript(text, "t.board", &script, &error)) << text;
  return error;
}

TEST(BoardScript, ParsesEveryCommand) {
  BoardScript script;
  std::string error;
  ASSERT_TRUE(ParseBoardScript(
      "# comment\n\nRATE 48000\nout 0x88 0x28  # key code\nOut 136 0X4a\n\tin 0x89\n"
      "wait 0\nwait 100\napply -40 0 20 1 2 3 4 5 0 1 0 1 0 1 0 1 1\nend\nnonsense here\n",
      "t.board", &script, &error))
      << error;
  ASSERT_EQ(script.commands.size(), 7u);
  EXPECT_EQ(script.commands[0].kind, ScriptCommand::kRate);
  EXPECT_EQ(script.commands[0].args[0], 48000);
  EXPECT_EQ(script.commands[1].args[0], 0x88);
  EXPECT_EQ(script.commands[1].args[1], 0x28);
  EXPECT_EQ(script.commands[2].args[0], 136);
  EXPECT_EQ(script.commands[2].args[1], 0x4A);
  EXPECT_EQ(script.commands[3].kind, ScriptCommand::kIn);
  EXPECT_EQ(script.commands[3].line, 6);
  EXPECT_EQ(script.commands[5].args[0], 100);
  EXPECT_EQ(script.commands[6].kind, ScriptCommand::kApply);
  EXPECT_EQ(script.commands[6].args[0], -40);
  EXPECT_EQ(script.commands[6].args[16], 1);
}

TEST(BoardScript, CrlfAndByteOrderMark) {
  BoardScript script;
  std::string error;
  ASSERT_TRUE(ParseBoardScript("\xEF\xBB\xBFwait 5\r\nin 0x80\r\n", "t", &script, &error)) << error;
  EXPECT_EQ(script.commands.size(), 2u);
}

TEST(BoardScript, ErrorsNameFileLineAndProblem) {
  EXPECT_EQ(ErrorOf("wait 1\nbeep 3\n"), "t.board:2: unknown command 'beep'");
  EXPECT_EQ(ErrorOf("out 0x88\n"), "t.board:1: 'out' takes 2 operands, got 1");
  EXPECT_EQ(ErrorOf("wait 1 2\n"), "t.board:1: 'wait' takes 1 operand, got 2");
  EXPECT_EQ(ErrorOf("end now\n"), "t.board:1: 'end' takes no operand");
  EXPECT_EQ(ErrorOf("out 0x10000 0\n"), "t.board:1: port must be 0..65535, got 0x10000");
  EXPECT_EQ(ErrorOf("out 0x88 256\n"), "t.board:1: value must be 0..255, got 256");
  EXPECT_EQ(ErrorOf("out 0x88 -1\n"), "t.board:1: value must be 0..255, got -1");
  EXPECT_EQ(ErrorOf("wait -1\n"), "t.board:1: frame count must be 0..1099511627776, got -1");
  EXPECT_EQ(ErrorOf("rate 7999\n"), "t.board:1: rate must be 8000..192000, got 7999");
  EXPECT_EQ(ErrorOf("rate 192001\n"), "t.board:1: rate must be 8000..192000, got 192001");
  EXPECT_EQ(ErrorOf("wait 12abc\n"), "t.board:1: '12abc' is not a number");
  EXPECT_EQ(ErrorOf("wait 0x\n"), "t.board:1: '0x' is not a number");
  EXPECT_EQ(ErrorOf("out 0x88 0x1,2\n"), "t.board:1: '0x1,2' is not a number");
  EXPECT_EQ(ErrorOf("wait 99999999999999999999999\n"),
            "t.board:1: frame count must be 0..1099511627776, got '99999999999999999999999', "
            "which is out of range");
  EXPECT_EQ(ErrorOf("apply 0 0 0 0 0 0 0 21 1 1 1 1 1 1 1 1 0\n"),
            "t.board:1: volume must be -40..20, got 21");
  EXPECT_EQ(ErrorOf("apply 0 0 0 0 0 0 0 0 1 1 1 2 1 1 1 1 0\n"),
            "t.board:1: output flag must be 0..1, got 2");
  EXPECT_EQ(ErrorOf("wait\x01 1\n"), "t.board:1: control character 0x01 at column 5");
  EXPECT_EQ(ErrorOf("\xFF\xFEw\0a\0"),
            "t.board:1: the file is UTF-16 text (it begins with a byte-order mark); save it as "
            "UTF-8 or ASCII");
  EXPECT_EQ(ErrorOf("wait 1\n" + std::string(60, 'x') + "\n"),
            "t.board:2: unknown command 'xxxxxxxxxxxxxxxxxxxxxxxx...' (60 characters)");
  EXPECT_EQ(ErrorOf(std::string(5000, ' ')), "t.board:1: line longer than 4096 characters");
}

}  // namespace
