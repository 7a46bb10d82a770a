// Stick text that becomes part of a path or a command: a volume label as one
// folder name, and the label as blkid escapes it.
#include <gtest/gtest.h>

#include <string>

#include "operations/folder_layout.h"
#include "sticks/label_folder.h"
#include "sticks/detection.h"

TEST(StickText, LabelGivesOneFolderNameOrNone) {
    const struct { const char* label; const char* folder; } rows[] = {
        {"x/../../..", "UE3 x_.._.._.."}, {"..", "UE3"}, {"...", "UE3"}, {"/", "UE3 _"},
        {"", "UE3"}, {"a\"b*c:d<e", "UE3 a_b_c_d_e"}, {">?\\|", "UE3 ____"},
        {"t\tb\x7f", "UE3 t_b_"}, {"CLASS B", "UE3 CLASS B"}, {"\xc3\xa9t\xc3\xa9", "UE3 \xc3\xa9t\xc3\xa9"},
        {"$(x)'&;`", "UE3 $(x)'&;`"}, {" .a", "UE3  .a"},
    };
    for (const auto& row : rows) EXPECT_EQ(studentFolderName(3, row.label), row.folder) << row.label;
}

TEST(StickText, BlkidEscapesUndoneLabelWhole) {
    const struct { const char* line; const char* label; } rows[] = {
        {"/dev/x: LABEL=\"a\\\"b\" UUID=\"1\"", "a\"b"},
        {"/dev/x: LABEL=\"a\\\\b\" UUID=\"1\"", "a\\b"},
        {"/dev/x: LABEL=\"\\\\\" UUID=\"1\"", "\\"},
        {"/dev/x: LABEL=\"ab\\\"", ""},              // the quote is escaped: none closes
        {"/dev/x: LABEL=\"x/../..\" TYPE=\"vfat\"", "x/../.."},
    };
    for (const auto& row : rows) {
        char label[20] = "";
        appendBlkidLabel(row.line, label, sizeof label);
        EXPECT_STREQ(label, row.label) << row.line;
    }
}
