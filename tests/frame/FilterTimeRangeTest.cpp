// The filter bar's time range in the real main frame: times typed into From and To with
// keys, the pane's rows against a model of the log's times (each line's running latest
// time, untimed lines and lines that go back in time included), while the file grows; and
// a time that cannot be read. English package.

#include "FilterPaneFixture.h"

#include "engine/DocumentTimeIndex.h"
#include "frame/LogTab.h"

namespace {

// A line of the log: its own time (seconds after 22:00:00, none for a continuation) and
// whether it says ERROR.
struct ModelLine {
    std::optional<int> seconds;
    bool error = false;
};

std::string lineText(const ModelLine& line, int n)
{
    char buffer[96];
    if (!line.seconds) {
        std::snprintf(buffer, sizeof buffer, "    at frame %d%s\n", n, line.error ? " ERROR" : "");
    } else {
        std::snprintf(buffer, sizeof buffer, "2026-12-09 %02d:%02d:%02d.%03d %s line %d\n",
                      22 + *line.seconds / 3600, *line.seconds / 60 % 60, *line.seconds % 60,
                      n % 1000, line.error ? "ERROR" : "INFO", n);
    }
    return buffer;
}

class FilterTimeRangeTest : public FilterPaneTest {
  protected:
    // Lines with times from `start` on, a few going back, a few without a time.
    void addLines(std::mt19937& random, int count, int& t)
    {
        for (int i = 0; i < count; ++i) {
            ModelLine line;
            line.error = random() % 3 == 0;
            const unsigned p = random() % 10;
            if (p == 0) {
                line.seconds.reset();
            } else if (p == 1) {
                line.seconds = std::max(0, t - int(random() % 90)); // a late writer
            } else {
                t += int(random() % 6);
                line.seconds = t;
            }
            const std::string text = lineText(line, int(model.size()));
            model.push_back(line);
            if (frame) {
                append(text);
            } else {
                content += text;
            }
        }
    }

    // Lines whose running latest time lies in [from, to] (seconds; none: open).
    std::vector<LineNumber> inRange(std::optional<int> from, std::optional<int> to,
                                    bool errorsOnly) const
    {
        // In milliseconds: a line's own milliseconds are its number's last three digits.
        std::vector<LineNumber> result;
        std::optional<long> latest;
        for (std::size_t i = 0; i < model.size(); ++i) {
            const long ms = model[i].seconds ? *model[i].seconds * 1000L + long(i % 1000) : 0;
            if (model[i].seconds && (!latest || ms > *latest)) {
                latest = ms;
            }
            if (latest && (!from || *latest >= *from * 1000L) && (!to || *latest <= *to * 1000L) &&
                (!errorsOnly || model[i].error)) {
                result.push_back(LineNumber(i));
            }
        }
        return result;
    }

    std::vector<LineNumber> rowLines() const
    {
        std::vector<LineNumber> result;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            result.push_back(rows()->lineOfRow(row));
        }
        return result;
    }

    // Waits for the rows to be `want`; the rows shown otherwise.
    std::vector<LineNumber> rowsBecome(const std::vector<LineNumber>& want)
    {
        static_cast<void>(QTest::qWaitFor([&] {
            QApplication::processEvents();
            return rowLines() == want;
        }));
        return rowLines();
    }

    // A click into the field, its text replaced by keys, Enter.
    void type(QLineEdit* field, const QString& text)
    {
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(8, field->height() / 2));
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
        QApplication::processEvents();
    }

    std::vector<ModelLine> model;
};

// Where two row lists part, for a failure's message.
std::string firstDifference(const std::vector<LineNumber>& got, const std::vector<LineNumber>& want)
{
    std::size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) {
        ++i;
    }
    return "rows " + std::to_string(got.size()) + ", model " + std::to_string(want.size()) +
           ", first difference at " + std::to_string(i) + ": " +
           (i < got.size() ? std::to_string(got[i]) : "-") + " vs " +
           (i < want.size() ? std::to_string(want[i]) : "-");
}

#define EXPECT_ROWS(want)                                                                          \
    do {                                                                                           \
        const std::vector<LineNumber> wanted = (want);                                             \
        const std::vector<LineNumber> got = rowsBecome(wanted);                                    \
        EXPECT_TRUE(got == wanted) << firstDifference(got, wanted);                                \
    } while (false)

} // namespace

TEST_F(FilterTimeRangeTest, FromAndToShowTheLinesWrittenInTheRangeAsTheLogGrows)
{
    std::mt19937 random(7);
    int t = 0;
    content = "untimed head line ERROR\n"; // before any time: in no range
    model.push_back({std::nullopt, true});
    addLines(random, 600, t);
    open(content, true);
    DocumentTimeIndex* times = frame->currentTab()->timeIndex();
    ASSERT_TRUE(QTest::qWaitFor([&] { return times->state() == DocumentTimeIndex::State::Ready; }));
    FilterBar* bar = pane()->bar();

    // A range alone: every line in it, lines that went back in time by the latest before.
    type(bar->fromField(), QStringLiteral("2026-12-09 22:05"));
    type(bar->toField(), QStringLiteral("2026-12-09 22:12:30"));
    EXPECT_TRUE(rows()->isVisible());
    EXPECT_ROWS(inRange(300, 750, false));

    // With text: the matching lines in the range; a time of day is on the first line's day.
    bar->field()->setFocus();
    QTest::keyClicks(bar->field(), QStringLiteral("ERROR"));
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_ROWS(inRange(300, 750, true));
    type(bar->toField(), QStringLiteral("22:14"));
    EXPECT_ROWS(inRange(300, 840, true));

    // Following: lines past To never join; with To empty every later line does, also those
    // without a time and those that went back.
    addLines(random, 50, t);
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == LineNumber(model.size()); }));
    EXPECT_ROWS(inRange(300, 840, true));
    type(bar->toField(), QString());
    EXPECT_ROWS(inRange(300, std::nullopt, true));
    addLines(random, 80, t);
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == LineNumber(model.size()); }));
    EXPECT_ROWS(inRange(300, std::nullopt, true));

    // From after the last line's time: nothing yet, then the lines that reach it.
    const int later = t + 30;
    char from[32];
    std::snprintf(from, sizeof from, "22:%02d:%02d", later / 60, later % 60);
    type(bar->fromField(), QString::fromLatin1(from));
    EXPECT_ROWS(std::vector<LineNumber>{});
    addLines(random, 60, t);
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == LineNumber(model.size()); }));
    EXPECT_ROWS(inRange(later, std::nullopt, true));
    EXPECT_FALSE(inRange(later, std::nullopt, true).empty());

    // Both fields empty again: the text filter as before.
    type(bar->fromField(), QString());
    EXPECT_ROWS(expected("ERROR"));
}

TEST_F(FilterTimeRangeTest, ATimeThatCannotBeReadIsNamedAndFiltersNothing)
{
    std::mt19937 random(3);
    int t = 0;
    addLines(random, 50, t);
    open(content);
    FilterBar* bar = pane()->bar();
    type(bar->fromField(), QStringLiteral("22:99 tomorrow"));
    EXPECT_TRUE(bar->timeErrorLabel()->isVisible());
    EXPECT_TRUE(bar->timeErrorLabel()->text().contains(QStringLiteral("22:99 tomorrow")));
    EXPECT_FALSE(pane()->filter()->isActive());
    EXPECT_FALSE(rows()->isVisible());
    type(bar->fromField(), QStringLiteral("-1d"));
    EXPECT_FALSE(bar->timeErrorLabel()->isVisible());
    EXPECT_ROWS(inRange(0, std::nullopt, false));
    // Times of day from late evening to past midnight: To is on the next day.
    type(bar->fromField(), QStringLiteral("22:00:10"));
    type(bar->toField(), QStringLiteral("00:05"));
    EXPECT_ROWS(inRange(10, 2 * 3600 + 300, false));
}

TEST_F(FilterTimeRangeTest, ARecentFilterBringsBackTheFromAndToItWasUsedWith)
{
    std::mt19937 random(7);
    int t = 0;
    content = "untimed head line ERROR\n";
    model.push_back({std::nullopt, true});
    addLines(random, 600, t);
    open(content);
    DocumentTimeIndex* times = frame->currentTab()->timeIndex();
    ASSERT_TRUE(QTest::qWaitFor([&] { return times->state() == DocumentTimeIndex::State::Ready; }));
    FilterBar* bar = pane()->bar();
    type(bar->fromField(), QStringLiteral("2026-12-09 22:05"));
    type(bar->toField(), QStringLiteral(" 2026-12-09 22:12:30 "));
    bar->field()->setFocus();
    QTest::keyClicks(bar->field(), QStringLiteral("ERROR"));
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_ROWS(inRange(300, 750, true));

    // Another text, its range then taken away (each Enter keeps what is used now), then the
    // first picked from the drop-down by its keys.
    bar->field()->setFocus();
    QTest::keyClick(bar->field(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(bar->field(), QStringLiteral("INFO"));
    QTest::keyClick(bar->field(), Qt::Key_Return);
    type(bar->fromField(), QString());
    type(bar->toField(), QString());
    bar->field()->setFocus();
    key(Qt::Key_Down);
    EXPECT_EQ(bar->field()->text(), QStringLiteral("INFO"));
    EXPECT_TRUE(bar->fromField()->text().isEmpty()) << "used without a range";
    key(Qt::Key_Down);
    EXPECT_EQ(bar->field()->text(), QStringLiteral("ERROR"));
    EXPECT_EQ(bar->fromField()->text(), QStringLiteral("2026-12-09 22:05"));
    EXPECT_EQ(bar->toField()->text(), QStringLiteral("2026-12-09 22:12:30"));
    EXPECT_ROWS(inRange(300, 750, true));
}
