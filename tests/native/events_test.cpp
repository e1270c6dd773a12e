// The table of events against the page administrators read: every row with its ID, level and message (an error
// box's reason), and no row that the table lacks.
#include "events.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

TEST(EventTable, TheEventLogPageListsEveryRowOnceWithItsLevelAndMessage)
{
    std::ifstream file(OSTRILO_SOURCE_DIR "/docs/event-log.md");
    const std::string page((std::istreambuf_iterator<char>(file)), {});
    const char* const levels[] = {"Information", "Warning", "Error"};
    std::set<int> ids;
    for (const event_row& row : event_rows) {
        const int id = static_cast<int>(row.kind);
        EXPECT_TRUE(ids.insert(id).second) << row.name;
        std::string message = *row.reason ? row.reason : row.message;
        for (std::size_t at; (at = message.find("%n")) != std::string::npos;)
            message.replace(at, 2, " ");
        const std::string line = "\n| " + std::to_string(id) + " | " + levels[static_cast<int>(row.level)] + " | ";
        EXPECT_NE(page.find(line + message + " | "), std::string::npos) << row.name;
    }
    std::size_t rows = 0;
    std::istringstream lines(page);
    for (std::string line; std::getline(lines, line);)
        rows += line.starts_with("| ") && line.size() > 6 && std::isdigit(line[2]) && line.compare(5, 3, " | ") == 0;
    EXPECT_EQ(rows, std::size(event_rows));
}
