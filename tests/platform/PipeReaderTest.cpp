#include "platform/linux/WaylandClipboardSource.h"

#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

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
        QByteArray content(c.written, 'x');
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char(i * 7 + i / 251);
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
        ASSERT_EQ(got.has_value(), c.read);
        if (c.read) {
            EXPECT_EQ(*got, content);
        }
    }
}

} // namespace
