#include "plugins/AudioBuffer.h"
#include "plugins/AudioPluginBridge.h"

#include <QtTest/QtTest>

#include <cstdlib>
#include <new>

// Array allocations fail once allocationsLeft reaches 0; those made while
// counting are tallied until freed.
namespace {
bool counting = false;
int allocationsLeft = -1; // below 0: never fail
int outstanding = 0;

void* allocateArray(std::size_t size)
{
    if (counting && allocationsLeft-- == 0)
        return nullptr;
    outstanding += counting;
    return std::malloc(size ? size : 1);
}

void freeArray(void* pointer)
{
    outstanding -= counting && pointer;
    std::free(pointer);
}
} // namespace

void* operator new[](std::size_t size)
{
    if (void* pointer = allocateArray(size))
        return pointer;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateArray(size); }
void operator delete[](void* pointer) noexcept { freeArray(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { freeArray(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { freeArray(pointer); }

class AudioBufferTest : public QObject {
    Q_OBJECT
private slots:
    void allocateZeroesEveryChannel()
    {
        AudioBuffer buffer;
        QVERIFY(buffer.data == nullptr);
        buffer.allocate(2, 4);
        QCOMPARE(buffer.numChannels, 2);
        QCOMPARE(buffer.numFrames, 4);
        for (int c = 0; c < 2; ++c)
            for (int f = 0; f < 4; ++f)
                QCOMPARE(buffer.data[c][f], 0.0f);
        buffer.data[1][3] = 0.7f;
        buffer.allocate(3, 8); // the old arrays go, values are not carried over
        QCOMPARE(buffer.numChannels, 3);
        QCOMPARE(buffer.data[1][3], 0.0f);
    }

    void runningOutOfMemoryLeaksNothing()
    {
        // The third channel fails: what was made is given back, the buffer stays empty.
        AudioBuffer buffer;
        counting = true;
        allocationsLeft = 3;
        try {
            buffer.allocate(4, 16);
        } catch (const std::bad_alloc&) {
        }
        counting = false;
        allocationsLeft = -1;
        QCOMPARE(outstanding, 0);
        QVERIFY(buffer.data == nullptr);
        QCOMPARE(buffer.numChannels, 0);
        QCOMPARE(buffer.numFrames, 0);
    }

    void emptyShapesLeaveAnEmptyBuffer_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames");
        QTest::newRow("no channels") << 0 << 512;
        QTest::newRow("no frames") << 2 << 0;
        QTest::newRow("negative") << -1 << 16;
    }

    void emptyShapesLeaveAnEmptyBuffer()
    {
        QFETCH(int, channels);
        QFETCH(int, frames);
        AudioBuffer buffer;
        buffer.allocate(2, 16);
        buffer.allocate(channels, frames);
        QVERIFY(buffer.data == nullptr);
        QCOMPARE(buffer.numChannels, 0);
        QCOMPARE(buffer.numFrames, 0);
        buffer.deallocate();
        buffer.deallocate();
        QCOMPARE(buffer.numFrames, 0);
    }

    void bridgeWithoutPluginsLeavesOutputAlone()
    {
        AudioBuffer in, out;
        in.allocate(2, 8);
        out.allocate(2, 8);
        in.data[0][0] = 0.5f;
        out.data[1][7] = 0.25f;
        AudioPluginBridge bridge;
        bridge.process(in, out); // not initialised
        QVERIFY(bridge.initialize(48000, 512));
        QVERIFY(bridge.initialize(44100, 256));
        bridge.process(in, out); // no plug-in loaded
        QCOMPARE(out.data[0][0], 0.0f);
        QCOMPARE(out.data[1][7], 0.25f);
        bridge.shutdown();
        QVERIFY(!bridge.isInitialized());
    }
};

QTEST_GUILESS_MAIN(AudioBufferTest)
#include "tst_AudioBuffer.moc"
