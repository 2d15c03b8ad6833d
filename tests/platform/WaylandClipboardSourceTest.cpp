#include "platform/linux/WaylandClipboardSource.h"

#include "support/FakeWaylandCompositor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <unistd.h>

using namespace quillary;
using namespace quillary::test;
using namespace std::chrono_literals;

namespace {

using Compositor = FakeWaylandCompositor;
using Selection = Compositor::Selection;
using Delivery = Compositor::Delivery;

const char* const ext = "ext-data-control-v1";
const char* const wlr = "wlr-data-control-unstable-v1";

// Many times what a pipe holds, so the owner blocks until the reader reads on.
QByteArray image(int seed)
{
    QByteArray bytes(3 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 131 + (i >> 16) + seed);
    return bytes;
}

TEST(WaylandClipboardSourceTest, ChoosesTheProtocolTheCompositorOffers)
{
    struct Case {
        const char* what;
        Compositor::Globals globals;
        const char* chosen; // null: no source
    };
    const Case cases[] = {
        {"ext alone", {true, true, false}, ext},   {"wlr alone", {true, false, true}, wlr},
        {"both", {true, true, true}, ext},         {"neither", {true, false, false}, nullptr},
        {"no seat", {false, true, true}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Compositor compositor(c.globals, Selection{{{"text/plain", "x"}}});
        const auto source = WaylandClipboardSource::connect();
        ASSERT_EQ(source != nullptr, c.chosen != nullptr);
        if (source) {
            EXPECT_EQ(source->protocolName().toStdString(), c.chosen);
            EXPECT_EQ(source->formats(), QStringList{"text/plain"});
        }
    }
}

class WaylandClipboardSourceProtocolTest : public testing::TestWithParam<const char*> {
protected:
    std::unique_ptr<WaylandClipboardSource> connect()
    {
        auto source = WaylandClipboardSource::connect();
        EXPECT_TRUE(source && source->protocolName() == QString::fromLatin1(GetParam()));
        return source;
    }
    Compositor::Globals globals() const { return {true, GetParam() == ext, GetParam() == wlr}; }
};

INSTANTIATE_TEST_SUITE_P(Protocols, WaylandClipboardSourceProtocolTest, testing::Values(ext, wlr),
                         [](const auto& protocol) { return protocol.param == ext ? "Ext" : "Wlr"; });

TEST_P(WaylandClipboardSourceProtocolTest, FollowsTheClipboardAndReadsIt)
{
    enum Action { Nothing, NewSelection, NewPrimary, Emptied };
    struct Step {
        const char* what;
        Action action;
        Selection selection;
        qint64 changes;
        QString asked;
        QByteArray expected;
    };
    const QByteArray first = image(1), second = image(2);
    const Selection atOnce{{{"image/png", first}, {"text/plain", "t"}}};
    const Selection inPieces{{{"image/png", second}}, Delivery::InPieces};
    const Selection html{{{"text/html", "<b>"}}};
    const Step steps[] = {
        {"the clipboard at connection counts as seen", Nothing, {}, 0, "text/plain", "at start"},
        {"a primary selection is not the clipboard", NewPrimary, html, 0, "text/html", ""},
        {"a new owner, megabytes at once", NewSelection, atOnce, 1, "image/png", first},
        {"a type not on offer", Nothing, {}, 1, "image/jpeg", ""},
        {"the next owner, in pieces", NewSelection, inPieces, 2, "image/png", second},
        {"an emptied clipboard", Emptied, {}, 3, "image/png", ""},
        {"an owner after that", NewSelection, {{{"text/plain", "again"}}}, 4, "text/plain", "again"},
    };
    Compositor compositor(globals(), Selection{{{"text/plain", "at start"}}});
    const auto source = connect();
    ASSERT_TRUE(source);
    QStringList formats{"text/plain"}; // the types of the clipboard's owner, in its order
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.action == NewSelection) {
            compositor.setSelection(step.selection);
            formats.clear();
            for (const auto& [type, bytes] : step.selection.types)
                formats.append(QString::fromStdString(type));
        } else if (step.action == Emptied) {
            compositor.setSelection(std::nullopt);
            formats.clear();
        } else if (step.action == NewPrimary) {
            compositor.setPrimarySelection(step.selection);
        }
        EXPECT_TRUE(waitUntil([&] {
            return source->changeCount() == step.changes && source->formats() == formats;
        })) << source->changeCount()
            << " changes, " << source->formats().join(' ').toStdString();
        const QByteArray read = source->data(step.asked);
        EXPECT_TRUE(read == step.expected) << read.size() << " bytes read of " << step.expected.size();
    }
}

// An owner that never closes the pipe: the read gives up, and meanwhile the source follows the clipboard.
TEST_P(WaylandClipboardSourceProtocolTest, AnOwnerThatNeverFinishesOrACompositorThatQuitsHoldsNothingUp)
{
    Compositor compositor(globals(), Selection{{{"image/png", "part of an image"}}, Delivery::NeverClosed});
    const auto source = connect();
    ASSERT_TRUE(source);
    std::atomic<bool> returned{false};
    QByteArray read = "not read";
    std::chrono::steady_clock::duration took{};
    std::thread reader([&] {
        const auto start = std::chrono::steady_clock::now();
        read = source->data("image/png");
        took = std::chrono::steady_clock::now() - start;
        returned = true;
    });
    EXPECT_TRUE(waitUntil([&] { return compositor.receives() == 1; }));
    compositor.setSelection(Selection{{{"text/plain", "next"}}});
    EXPECT_TRUE(waitUntil([&] { return source->formats() == QStringList{"text/plain"}; }));
    EXPECT_FALSE(returned) << "the new owner was seen only once the read was over";
    reader.join();
    EXPECT_TRUE(read.isEmpty());
    EXPECT_LT(took, 4 * WaylandClipboardSource::readTimeout);
    EXPECT_EQ(source->changeCount(), 1);

    // The compositor quits under the source: nothing crashes or hangs, and reads give nothing.
    compositor.stop();
    EXPECT_TRUE(source->data("text/plain").isEmpty());
}

// The clipboard's owner writes `written` bytes into the pipe and closes it, or leaves it open.
TEST(PipeReaderTest, ReadsToTheEndWithinTheCapAndTheTime)
{
    struct Case {
        const char* what;
        qsizetype written;
        bool closed;
        qint64 cap;
        bool read;
    };
    const Case cases[] = {
        {"empty content", 0, true, 16, true},
        {"small content", 10, true, 16, true},
        {"exactly the cap", 16, true, 16, true},
        {"one byte over the cap", 17, true, 16, false},
        {"more than a pipe holds, taken as it comes", 1 << 20, true, 1 << 20, true},
        {"an owner that never closes", 10, false, 16, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        const QByteArray content = image(0).first(c.written);
        std::thread owner([&] {
            for (qsizetype done = 0; done < content.size();) {
                const ssize_t put = write(ends[1], content.constData() + done, size_t(content.size() - done));
                if (put <= 0)
                    break;
                done += put;
            }
            if (c.closed)
                close(ends[1]);
        });
        const std::optional<QByteArray> got = readPipeToEnd(ends[0], c.closed ? 10s : 50ms, c.cap);
        close(ends[0]);
        owner.join();
        if (!c.closed)
            close(ends[1]);
        EXPECT_EQ(got, c.read ? std::optional(content) : std::nullopt);
    }
}

} // namespace
