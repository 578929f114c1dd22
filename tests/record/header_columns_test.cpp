// The recording's header row names each column by what the rows carry in it: a spreadsheet or a
// script reads the columns by these names.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "csv.h"

namespace {

std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ','))
        out.push_back(field);
    return out;
}

} // namespace

TEST(RecordHeader, EachNameHeadsTheColumnThatCarriesIt) {
    // Every value distinct, so that any two columns swapped show.
    RawAnswer a{};
    a.leftEdge = 901;
    a.rightEdge = 1102;
    a.valuePx = 1003;
    a.umValue = 74565;
    a.edges = 3;
    a.tolerancePx = 54;
    a.setpointPx = 995;
    a.analogOut = -1406;
    a.analogMax = 307;
    a.analogMin = 1708;
    a.inTolerance = true;
    a.wallMs = 1796634902123LL;
    char buf[kMaxRowLength];
    std::string line(buf, FormatRecordRow(a, 12.5, buf));
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    line.pop_back();
    const std::vector<std::string> row = Fields(line);
    const std::vector<std::string> header = Fields(kRecordHeaderRow);

    const struct {
        const char *name;
        std::string value; // "" for the time stamp, checked by its form only
    } columns[] = {
        {"time", ""},           {"t_s", "12.500"},       {"left_edge_px", "901"}, {"right_edge_px", "1102"},
        {"value_px", "1003"},   {"value_mm", "74.565"},  {"edges", "3"},          {"tolerance_px", "54"},
        {"setpoint_px", "995"}, {"analog_out", "-1406"}, {"analog_max", "307"},   {"analog_min", "1708"},
        {"in_tolerance", "1"},
    };
    ASSERT_EQ(header.size(), sizeof columns / sizeof columns[0]);
    ASSERT_EQ(row.size(), header.size());
    for (size_t i = 0; i < header.size(); ++i) {
        EXPECT_EQ(header[i], columns[i].name) << "column " << i;
        if (*columns[i].value.c_str()) {
            EXPECT_EQ(row[i], columns[i].value) << columns[i].name;
        } else {
            EXPECT_EQ(row[i].rfind("2026-12-07T", 0), 0u) << row[i];
        }
    }
}
