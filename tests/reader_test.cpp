#include "reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "reference.h"
#include "samples.h"

namespace {

using namespace reference;

// The reference is libstdc++'s stream extraction; libc++'s reads some tokens
// (subnormals, hexadecimal) its own way.
#ifdef _LIBCPP_VERSION
#define SKIP_UNLESS_LIBSTDCXX() \
  GTEST_SKIP() << "the reference is libstdc++'s stream extraction"
#else
#define SKIP_UNLESS_LIBSTDCXX() (void)0
#endif

Row reference_row(const std::string& line) {
  std::istringstream in(line);
  Table t = reference_read(in);
  return t.empty() ? Row{} : t[0];
}

Row parse(const std::string& line) {
  Row row;
  parse_line(line, row);
  return row;
}

std::string temp_file(const std::string& text) {
  char name[] = "/tmp/reader_test_XXXXXX";
  const int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, text.data(), text.size()),
            static_cast<ssize_t>(text.size()));
  close(fd);
  return name;
}

TEST(Reader, LinesAsTheStreamReadsThem) {
  struct {
    const char* line;
    Row row;
  } const cases[] = {
      {"1 2 3", {1, 2, 3}},
      {"1 2 x 3", {1, 2}},
      {"1,2,3", {1}},
      {"1-2", {1, -2}},
      {"", {}},
      {"just words", {}},
      {"4 5\r", {4, 5}},
      {"\xEF\xBB\xBF"
       "1 2",
       {}},
      {"+.5 5. -0.25e1", {0.5, 5, -2.5}},
      {"1e 2", {}},
      {"1e+ 2", {}},
      {"1e5e3", {1e5}},
      {"0x10", {0}},
      {"1..2", {1, 0.2}},
      {"inf nan", {}},
      {"2 1e400 3", {2}},
      {"1e-400", {0}},
      {"-1e-400", {-0.0}},
      {"\t\v\f 7", {7}},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(same(parse(c.line), c.row)) << '"' << c.line << '"';
}

// Lines made of the characters and tokens the extraction treats specially.
std::string random_line(std::mt19937_64& rng) {
  static const char* const pieces[] = {
      "0",
      "1",
      "7",
      "9",
      "00",
      ".",
      "e",
      "E",
      "+",
      "-",
      " ",
      "  ",
      "\t",
      "\r",
      "\v",
      "x",
      ",",
      "inf",
      "nan",
      "0x1p3",
      "1e400",
      "1e-400",
      "4.9e-324",
      "e-",
      "1e308",
      "2.2250738585072011e-308",
      "123456789012345678901234",
      "0.1",
      "3.14159265358979323846",
      "\xEF\xBB\xBF",
  };
  const std::size_t count = sizeof pieces / sizeof pieces[0];
  std::string line;
  const int length = static_cast<int>(rng() % 24);
  for (int i = 0; i < length; ++i) {
    const std::size_t k = rng() % (count + 1);
    if (k == count)
      line += '\0';  // a NUL byte does not survive a C string
    else
      line += pieces[k];
  }
  return line;
}

TEST(Reader, MatchesStreamExtractionOnGeneratedLines) {
  SKIP_UNLESS_LIBSTDCXX();
  std::mt19937_64 rng(20261208);
  for (int i = 0; i < 1000000; ++i) {
    const std::string line = random_line(rng);
    ASSERT_TRUE(same(parse(line), reference_row(line)))
        << "line " << i << ": \"" << line << '"';
  }
}

TEST(Reader, MatchesStreamExtractionOnRandomDoubles) {
  SKIP_UNLESS_LIBSTDCXX();
  std::mt19937_64 rng(7);
  char text[64];
  for (int i = 0; i < 500000; ++i) {
    double v;
    const std::uint64_t bits = rng();
    std::memcpy(&v, &bits, sizeof v);
    std::snprintf(text, sizeof text, i % 2 ? "%.17g" : "%.6e", v);
    ASSERT_TRUE(same(parse(text), reference_row(text))) << text;
  }
}

TEST(Reader, FilesSplitIntoLines) {
  // The long line crosses the reader's block size.
  const std::string long_line(3 << 20, '1');
  const std::string texts[] = {
      "",       "1 2 3\n4 5 6", "1 2 3\n4 5 6\n",      "1 2 3\n4 5 6\n\n",
      "\n\n\n", "1\r\n2\r\n",   long_line + " 2\n3\n",
  };
  for (const std::string& text : texts) {
    const std::string name = temp_file(text);
    const read_result read = read_table(name);
    EXPECT_TRUE(read.ok());
    const Table& table = read.rows;
    std::istringstream in(text);
    const Table expected = reference_read(in);
    ASSERT_EQ(table.size(), expected.size());
    for (std::size_t r = 0; r < table.size(); ++r)
      EXPECT_TRUE(same(table[r], expected[r]));
    std::remove(name.c_str());
  }
}

// Small starting buffers make lines cross buffer ends and grow the buffer.
TEST(Reader, AnyBufferSizeGivesTheSameRows) {
  const std::string text =
      "1 2 3\n45 6e1 7\r\n\n" + std::string(40, '8') + " 9\nx\n10,11";
  std::istringstream in(text);
  const Table expected = reference_read(in);
  const std::string name = temp_file(text);
  for (std::size_t block = 0; block < 70; ++block) {
    const int fd = open(name.c_str(), O_RDONLY);
    const read_result read = read_fd(fd, block);
    close(fd);
    ASSERT_TRUE(read.ok());
    const Table& table = read.rows;
    ASSERT_EQ(table.size(), expected.size()) << block;
    for (std::size_t r = 0; r < table.size(); ++r)
      EXPECT_TRUE(same(table[r], expected[r])) << block << ' ' << r;
    EXPECT_EQ(read.ignored.line, 5u);
    EXPECT_EQ(read.ignored.text, "x");
    EXPECT_EQ(read.ignored.lines, 2u);
  }
  std::remove(name.c_str());
}

// Where text after the last value is reported, and how the warning reads.
TEST(Reader, WarnsAboutIgnoredText) {
  struct {
    const char* text;
    const char* warning;
  } const cases[] = {
      {"1 2\r\n3 4 \t\n", ""},
      {"1,2.5,3\n4,5\n6\n",
       "f:1: warning: ignored \",2.5,3\" after 1 value (and on 1 more line); "
       "comma-separated? try -d ,"},
      {"1,2.5,3\n4\n6\n7;8\n",
       "f:1: warning: ignored \",2.5,3\" after 1 value (and on 1 more line)"},
      {"1;2\n3;4\n",
       "f:1: warning: ignored \";2\" after 1 value (and on 1 "
       "more line); semicolon-separated? try -d ';'"},
      {"1|2\n",
       "f:1: warning: ignored \"|2\" after 1 value; pipe-separated? "
       "try -d '|'"},
      {"1\n2 x\r\n3 y\n4 z",
       "f:2: warning: ignored \"x\" after 1 value "
       "(and on 2 more lines)"},
      {"# a header that goes on and on\n1\n",
       "f:1: warning: ignored \"# a header that goes\"... after 0 values"},
      {"1 12345678901234567890 \n", ""},
      {"1 a2345678901234567890 \n",
       "f:1: warning: ignored \"a2345678901234567890\" after 1 value"},
      {"\xEF\xBB\xBF"
       "1\n",
       ""},
      {"1\n\xEF\xBB\xBF"
       "2\n",
       "f:2: warning: ignored \"\\xef\\xbb\\xbf2\" after 0 "
       "values"},
      {"1 \"q\" \\ \x1b\x7f\v\f\t.\n",
       "f:1: warning: ignored \"\\\"q\\\" \\\\ \\x1b\\x7f\\v\\f\\t.\" after "
       "1 "
       "value"},
      {"1e400 5\n2e",
       "f:1: warning: ignored \"1e400 5\" (out of range) after 0 values (and "
       "on 1 more line)"},
      {"1 2e\n1e400\n",
       "f:1: warning: ignored \"2e\" after 1 value (and on 1 more line)"},
  };
  for (const auto& c : cases) {
    const std::string name = temp_file(c.text);
    const read_result read = read_table(name);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(ignored_warning("f", read), c.warning) << c.text;
    std::remove(name.c_str());
  }
}

TEST(Reader, ReportsFilesThatCannotBeRead) {
  EXPECT_EQ(read_table("/nonexistent/data.txt").error,
            "No such file or directory");
  EXPECT_EQ(read_table("/tmp").error, "Is a directory");
  EXPECT_FALSE(read_table("").ok());
  EXPECT_TRUE(input("/tmp").empty());
}

// Delimited fields: each one number, blanks around it; the first field that
// is not stops reading.
TEST(Reader, DelimitedFields) {
  struct {
    const char* line;
    char delimiter;
    Row row;
    std::size_t bad;
    const char* text;
  } const cases[] = {
      {"1,2.5,-3e2", ',', {1, 2.5, -300}, 0, ""},
      {" 1 ;\t2 \r", ';', {1, 2}, 0, ""},
      {"1\t 2", '\t', {1, 2}, 0, ""},
      {"", ',', {}, 0, ""},
      {" \r", ',', {}, 0, ""},
      {"1,,2", ',', {1}, 2, ""},
      {"1,2,", ',', {1, 2}, 3, ""},
      {"5.1,3.5,setosa", ',', {5.1, 3.5}, 3, "setosa"},
      {"1.5x", ',', {}, 1, "1.5x"},
      {"1 2,3", ',', {}, 1, "1 2"},
      {"1e400|2", '|', {}, 1, "1e400"},
  };
  for (const auto& c : cases) {
    Row row;
    const field_check check = parse_fields(c.line, c.delimiter, row);
    EXPECT_TRUE(same(row, c.row)) << c.line;
    EXPECT_EQ(check.position, c.bad) << c.line;
    EXPECT_EQ(check.text, c.text) << c.line;
  }
}

TEST(Reader, HeaderAndBadFieldsInAFile) {
  const std::string name = temp_file("a,b\n1,2\n3,x\n5,6\n");
  const read_result read = read_table(name, {',', 1});
  EXPECT_EQ(read.first_line, 2u);
  EXPECT_EQ(read.rows, (Table{{1, 2}}));
  EXPECT_EQ(read.bad.line, 3u);
  EXPECT_EQ(read.bad.position, 2u);
  EXPECT_EQ(read.bad.text, "x");
  const read_result plain = read_table(name, {0, 1});
  EXPECT_EQ(plain.rows.size(), 3u);
  EXPECT_EQ(plain.ignored.line, 2u);  // lines keep their numbers
  EXPECT_EQ(ignored_warning("f", plain),
            "f:2: warning: ignored \",2\" after 1 value (and on 2 more "
            "lines); comma-separated? try -d ,");
  std::remove(name.c_str());
}

// The label's token is taken out of the line before the numbers are read;
// the line has no such token when it is short of the column.
TEST(Reader, LabelTokens) {
  struct {
    const char* line;
    std::size_t label;
    bool found;
    const char* rest;
  } const cases[] = {
      {"setosa 1 2", 1, true, " 1 2"},
      {"1 Iris-setosa 2", 2, true, "1  2"},
      {"1 2 class\r", 3, true, "1 2 \r"},
      {"1 2 class", 4, false, ""},
      {"\t a\v", 1, true, "\t \v"},
      {"1 2 \"class 2\"", last_column, true, "1 2 \"class "},
      {"only", last_column, true, ""},
      {" \t\r", last_column, false, ""},
      {"", 1, false, ""},
  };
  for (const auto& c : cases) {
    std::string rest;
    EXPECT_EQ(without_token(c.line, c.label, rest), c.found) << c.line;
    EXPECT_EQ(rest, c.rest) << c.line;
  }
}

// Any line: reading it with its last token as the label gives the numbers of
// the other tokens, as the stream reads them once the label is gone.
TEST(Reader, LastTokenLabelMatchesStreamWithoutIt) {
  SKIP_UNLESS_LIBSTDCXX();
  std::mt19937_64 rng(42);
  for (int i = 0; i < 100000; ++i) {
    const std::string line = random_line(rng);
    std::istringstream words(line);
    std::vector<std::string> tokens;
    for (std::string w; words >> w;) tokens.push_back(w);
    if (tokens.empty()) continue;
    std::string joined;
    for (std::size_t k = 0; k + 1 < tokens.size(); ++k)
      joined += tokens[k] + ' ';
    std::string rest;
    ASSERT_TRUE(without_token(line, last_column, rest));
    ASSERT_TRUE(same(parse(rest), reference_row(joined)))
        << "line " << i << ": \"" << line << '"';
  }
}

TEST(Reader, DelimitedLabelFields) {
  struct {
    const char* line;
    std::size_t label;
    Row row;
    bool found;
    std::size_t bad;
  } const cases[] = {
      {"Iris-setosa,1,2", 1, {1, 2}, true, 0},
      {"1,class 2,2", 2, {1, 2}, true, 0},
      {"1,2,\"class 2\"", last_column, {1, 2}, true, 0},
      {"1,,2", 2, {1, 2}, true, 0},
      {"1,2,", last_column, {1, 2}, true, 0},
      {"1,2", 3, {1, 2}, false, 0},
      {"7", last_column, {}, true, 0},
      {" \r", last_column, {}, false, 0},
      {"x,1,y", 1, {1}, true, 3},  // positions count the label's field
      {"1,x,y", last_column, {1}, false, 2},
  };
  for (const auto& c : cases) {
    Row row;
    bool found = false;
    const field_check check = parse_fields(c.line, ',', row, c.label, &found);
    EXPECT_TRUE(same(row, c.row)) << c.line;
    EXPECT_EQ(found, c.found) << c.line;
    EXPECT_EQ(check.position, c.bad) << c.line;
  }
}

// Rows hold the label's place first; the first line without the label
// column is noted; skipped lines keep their numbers.
TEST(Reader, LabelsAndSkippedLinesInAFile) {
  struct {
    const char* text;
    read_options options;
    Table rows;
    std::size_t unlabelled;
    std::size_t ignored_line;
    std::size_t ignored_values;
  } const cases[] = {
      {"a b\n1 2 x\n3 4 y\n",
       {0, 1, last_column},
       {{0, 1, 2}, {0, 3, 4}},
       0,
       0,
       0},
      {"n\nnames\n1,x,2\n3,y,4\n",
       {',', 2, 2},
       {{0, 1, 2}, {0, 3, 4}},
       0,
       0,
       0},
      // A line without the column holds the label's place all the same.
      {"1 2 3\n4 5\n", {0, 0, 3}, {{0, 1, 2}, {0, 4, 5}}, 2, 0, 0},
      {"1,2,a\n4,5\n \n", {',', 0, 3}, {{0, 1, 2}, {0, 4, 5}, {}}, 2, 0, 0},
      {"1 2 a\n\n", {0, 0, last_column}, {{0, 1, 2}, {}}, 2, 0, 0},
      {"1 x 3 cat\n", {0, 0, last_column}, {{0, 1}}, 0, 1, 1},
      {"1 2\n3 4\n", {0, 0, 0}, {{1, 2}, {3, 4}}, 0, 0, 0},
      {"1 2\n3 4\n", {0, 2, 0}, {}, 0, 0, 0},
      {"1 2\n3 4", {0, 3, 0}, {}, 0, 0, 0},
      {"h\n1 2 z\n", {0, 1, 0}, {{1, 2}}, 0, 2, 2},
  };
  for (const auto& c : cases) {
    const std::string name = temp_file(c.text);
    const read_result read = read_table(name, c.options);
    ASSERT_TRUE(read.ok()) << c.text;
    EXPECT_TRUE(same(read.rows, c.rows)) << c.text;
    EXPECT_EQ(read.first_line, c.options.skip + 1) << c.text;
    EXPECT_EQ(read.unlabelled, c.unlabelled) << c.text;
    EXPECT_EQ(read.ignored.line, c.ignored_line) << c.text;
    EXPECT_EQ(read.ignored.values, c.ignored_values) << c.text;
    std::remove(name.c_str());
  }
}

// A byte-order mark is skipped at the start of a file only, in either
// grammar, with the header and across any buffer size; lines keep their
// numbers.
TEST(Reader, ByteOrderMarkAtTheStart) {
  const std::string bom = "\xEF\xBB\xBF";
  struct {
    std::string text;
    read_options options;
    Table rows;
    std::size_t ignored_line;
  } const cases[] = {
      {bom, {}, {}, 0},  // as an empty file
      {bom, {',', true}, {}, 0},
      {bom + "\n", {}, {{}}, 0},
      {bom + "\n1 2\n", {}, {{}, {1, 2}}, 0},
      {bom + "1 2\n3 4 x\n", {}, {{1, 2}, {3, 4}}, 2},
      {bom + "1,2\n3,4\n", {',', false}, {{1, 2}, {3, 4}}, 0},
      {bom + "a,b\n3,4\n", {',', true}, {{3, 4}}, 0},
      {bom + bom + "1\n", {}, {{}}, 1},  // only one is a mark
      {"1\n" + bom + "2\n", {}, {{1}, {}}, 2},
      {"\xEF\xBB"
       "1\n",
       {},
       {{}},
       1},  // part of a mark is text
  };
  for (const auto& c : cases) {
    const std::string name = temp_file(c.text);
    for (const std::size_t block : {1, 2, 4, 1 << 20}) {
      const int fd = open(name.c_str(), O_RDONLY);
      const read_result read = read_fd(fd, block, c.options);
      close(fd);
      EXPECT_TRUE(read.ok()) << c.text;
      EXPECT_EQ(read.rows, c.rows) << c.text << ' ' << block;
      EXPECT_EQ(read.ignored.line, c.ignored_line) << c.text;
    }
    std::remove(name.c_str());
  }
  const std::string name = temp_file(bom + "1,x\n");
  const read_result bad = read_table(name, {',', false});
  EXPECT_EQ(bad.bad.line, 1u);
  EXPECT_EQ(bad.bad.position, 2u);  // the mark is not part of field 1
  std::remove(name.c_str());
}

// Lines that end in a carriage return alone stop reading at the first,
// skipped or not, in either grammar and across buffer ends; one before the
// line feed, or with only whitespace after it, is whitespace.
TEST(Reader, LoneCarriageReturns) {
  struct {
    const char* text;
    read_options options;
    std::size_t line;  // 0: read as usual
  } const cases[] = {
      {"1 2\r3 4\r", {}, 1},
      {"1 2\n3 4\n5 6\r7 8\r", {}, 3},
      {"1,2\r3,4\r", {',', 0, 0}, 1},
      {"a b\rc\n1 2\n", {0, 1, 0}, 1},
      {"1 2 x\r3 4 y\r", {0, 0, last_column}, 1},
      {"1 2\r\n3 4\r\n", {}, 0},
      {"1 2\r \t\r\n3 4\r", {}, 0},
      {"\r\r\n\r", {}, 0},
  };
  for (const auto& c : cases) {
    const std::string name = temp_file(c.text);
    for (const std::size_t block : {1, 3, 1 << 20}) {
      const int fd = open(name.c_str(), O_RDONLY);
      const read_result read = read_fd(fd, block, c.options);
      close(fd);
      EXPECT_EQ(read.carriage_return, c.line) << c.text << ' ' << block;
      EXPECT_EQ(read.ok(), c.line == 0) << c.text;
      EXPECT_EQ(read.rows.size(), c.line == 0 ? 2u : c.line - 1) << c.text;
    }
    std::remove(name.c_str());
  }
}

// Which rows come from blank lines: whitespace only, not text without a
// number, in either grammar.
TEST(Reader, MarksBlankLines) {
  const std::string name = temp_file("1 2\n\n \t\r\n# note\n3 4\n  ");
  const read_result plain = read_table(name);
  EXPECT_EQ(plain.blank,
            (std::vector<bool>{false, true, true, false, false, true}));
  std::remove(name.c_str());
  const std::string csv = temp_file("h\n1;2\n \n3;4\n\n");
  const read_result fields = read_table(csv, {';', true});
  ASSERT_TRUE(fields.ok());
  EXPECT_EQ(fields.blank, (std::vector<bool>{false, true, false, true}));
  EXPECT_EQ(fields.rows.size(), fields.blank.size());
  std::remove(csv.c_str());
}

// A field that is one number beyond the double range is out of range; one
// with more text after it is not a number.
TEST(Reader, FieldsOutOfRange) {
  struct {
    const char* line;
    std::size_t bad;
    bool out_of_range;
  } const cases[] = {
      {"1,1e308", 0, false},  {"1,1e309", 2, true},    {"-1e309 ,2", 1, true},
      {"1,1e400x", 2, false}, {"1,1e400 2", 2, false}, {"1,x", 2, false},
  };
  for (const auto& c : cases) {
    Row row;
    const field_check check = parse_fields(c.line, ',', row);
    EXPECT_EQ(check.position, c.bad) << c.line;
    EXPECT_EQ(check.out_of_range, c.out_of_range) << c.line;
  }
}

}  // namespace
