// The declared binary interface (ids, text form of ids, slot order) and the
// objects the host hands to plug-ins.

#include "plugins/VST3HostObjects.h"
#include "plugins/VST3Message.h"
#include "plugins/VST3ParameterChanges.h"
#include "plugins/VST3PendingParameters.h"
#include "plugins/VST3Ptr.h"
#include "plugins/VST3Text.h"

#include <QtTest/QtTest>

#include <cstring>

using namespace vst;

class VST3HostObjectsTest : public QObject {
    Q_OBJECT

    static QByteArray bytesOf(const Uid& id) { return QByteArray(id.bytes, 16); }

    // Calls a slot of an object by its number in the vtable, as a plug-in
    // compiled elsewhere does.
    template <class Result, class... Args>
    static Result callSlot(void* object, int slot, Args... args)
    {
        using Function = Result (*)(void*, Args...);
        Function* table = *static_cast<Function**>(object);
        return table[slot](object, args...);
    }

private slots:
    void interfaceIdsAndText()
    {
        // Each written word stored big-endian, in order.
        QCOMPARE(bytesOf(FUnknown::iid), QByteArray::fromHex("0000000000000000C000000000000046"));
        QCOMPARE(VST3Text::uidToString(IComponent::iid), std::string("E831FF31F2D54301928EBBEE25697802"));
        QCOMPARE(VST3Text::uidToString(IPlugView::iid), std::string("5BC32507D06049EAA6151B522B755B29"));
        const char raw[] = "\x01\xab\x00\xff\x10\x20\x30\x40\x50\x60\x70\x80\x90\xa0\xb0\xc0";
        QCOMPARE(VST3Text::uidToString(Uid::fromBytes(raw)), std::string("01AB00FF102030405060708090A0B0C0"));
        // The fields a plug-in fills are read up to their size when it leaves out the zero.
        char name[8];
        std::memset(name, 'x', sizeof name);
        QCOMPARE(VST3Text::fromField(name), std::string(8, 'x'));
        String128 title{};
        const char16_t text[] = u"Gr\u00f6\u00dfe dB";
        std::memcpy(title, text, sizeof text);
        QCOMPARE(VST3Text::asciiFromString128(title), std::string("Gre dB"));
        for (auto& unit : title)
            unit = u'a';
        QCOMPARE(VST3Text::asciiFromString128(title).size(), size_t(127));
    }

    void layoutOfRecordsPassedByPointer()
    {
        // The static checks in the header hold the sizes; here the records a
        // plug-in reads through pointers are checked field by field.
        Event event{};
        event.type = kNoteOnEvent;
        event.noteOn.velocity = 0.5f;
        const char* raw = reinterpret_cast<const char*>(&event);
        float velocity = 0.0f;
        std::memcpy(&velocity, raw + 24 + 8, 4);
        QCOMPARE(velocity, 0.5f);
        ProcessData data{};
        IEventList* marker = reinterpret_cast<IEventList*>(&data);
        data.inputEvents = marker;
        void* stored = nullptr;
        std::memcpy(&stored, reinterpret_cast<char*>(&data) + 56, sizeof stored);
        QCOMPARE(stored, static_cast<void*>(marker));
        QCOMPARE(sizeof(PClassInfo2), size_t(440));
        QCOMPARE(offsetof(ParameterInfo, defaultNormalizedValue), size_t(776));
        QCOMPARE(offsetof(BusInfo, busType), size_t(268));
    }

    void slotOrderSeenByForeignCallers()
    {
        VST3Ptr<VST3MemoryStream> stream(new VST3MemoryStream);
        char bytes[6] = {1, 2, 3, 4, 5, 6};
        int32 written = 0;
        QCOMPARE((callSlot<tresult, void*, int32, int32*>(static_cast<IBStream*>(stream.get()), 4, bytes, 6, &written)),
                 kResultOk); // write
        QCOMPARE(written, 6);
        int64 position = -1;
        QCOMPARE((callSlot<tresult, int64*>(static_cast<IBStream*>(stream.get()), 6, &position)), kResultOk); // tell
        QCOMPARE(position, int64(6));
        QCOMPARE((callSlot<uint32>(static_cast<IBStream*>(stream.get()), 1)), uint32(2)); // addRef
        QCOMPARE((callSlot<uint32>(static_cast<IBStream*>(stream.get()), 2)), uint32(1)); // release

        VST3Ptr<VST3EventList> list(new VST3EventList);
        QCOMPARE((callSlot<int32>(static_cast<IEventList*>(list.get()), 3)), 0); // getEventCount
    }

    void queryInterfaceOffersOnlyItsOwn()
    {
        VST3HostApplication* application = VST3HostApplication::instance();
        void* object = reinterpret_cast<void*>(1);
        QCOMPARE(application->queryInterface(IBStream::iid.bytes, &object), kNoInterface);
        QVERIFY(object == nullptr);
        const int before = application->references();
        QCOMPARE(application->queryInterface(FUnknown::iid.bytes, &object), kResultOk);
        QCOMPARE(object, static_cast<void*>(static_cast<IHostApplication*>(application)));
        QCOMPARE(application->references(), before + 1);
        application->release();
        // A plug-in giving back more than it took leaves the shared object alive.
        application->release();
        application->release();
        QVERIFY(application->references() >= 1);
        QCOMPARE(application->queryInterface(IHostApplication::iid.bytes, &object), kResultOk);
        application->release();

        VST3Ptr<VST3ComponentHandler> handler(new VST3ComponentHandler(nullptr));
        QCOMPARE(handler->queryInterface(IComponentHandler::iid.bytes, &object), kResultOk);
        QCOMPARE(handler->references(), 2);
        handler->release();
        VST3Ptr<VST3EventList> list(new VST3EventList);
        QCOMPARE(list->queryInterface(IBStream::iid.bytes, &object), kNoInterface);
        QCOMPARE(list->queryInterface(IEventList::iid.bytes, &object), kResultOk);
        QCOMPARE(list->references(), 2);
        list->release();
    }

    void hostApplication()
    {
        String128 name;
        std::memset(name, 0xFF, sizeof name);
        QCOMPARE(VST3HostApplication::instance()->getName(name), kResultOk);
        QCOMPARE(QString::fromUtf16(name), QStringLiteral("CalderwynStudio"));
        void* object = reinterpret_cast<void*>(1);
        TUID cid{}, iid{};
        QCOMPARE(VST3HostApplication::instance()->createInstance(cid, iid, &object), kResultFalse);
        QVERIFY(object == nullptr);
    }

    void memoryStream()
    {
        VST3Ptr<VST3MemoryStream> stream(new VST3MemoryStream(std::vector<char>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        int64 position = 0;
        char out[4] = {9, 9, 9, 9};
        int32 read = -1;
        // A short read at the end copies what is there, and a read at the
        // end gives nothing; both succeed (plug-ins reading in fixed pieces
        // until nothing comes rely on it).
        stream->seek(8, kIBSeekSet, &position);
        QCOMPARE(stream->read(out, 4, &read), kResultOk);
        QCOMPARE(read, 2);
        QCOMPARE(out[0], char(8));
        QCOMPARE(out[2], char(9));
        QCOMPARE(stream->read(out, 4, &read), kResultOk);
        QCOMPARE(read, 0);

        stream->seek(0, kIBSeekEnd, nullptr);
        stream->tell(&position);
        QCOMPARE(position, int64(10));
        stream->seek(5, kIBSeekSet, nullptr);
        stream->seek(-3, kIBSeekCur, &position);
        QCOMPARE(position, int64(2));

        // Writing appends, wherever the position stands.
        stream->seek(0, kIBSeekSet, nullptr);
        char more[4] = {'a', 'b', 'c', 'd'};
        int32 written = 0;
        QCOMPARE(stream->write(more, 4, &written), kResultOk);
        QCOMPARE(written, 4);
        QCOMPARE(stream->bytes().size(), size_t(14));
        QCOMPARE(stream->bytes()[0], char(0));
        QCOMPARE(stream->bytes()[13], 'd');
        stream->tell(&position);
        QCOMPARE(position, int64(14));

        // Before the start or far out of range nothing is read (sanitizers watch).
        stream->seek(-100, kIBSeekSet, nullptr);
        QCOMPARE(stream->read(out, 4, &read), kResultFalse);
        QCOMPARE(read, 0);
        stream->seek(INT64_MAX, kIBSeekSet, nullptr);
        QCOMPARE(stream->seek(10, kIBSeekCur, &position), kInvalidArgument);
        QCOMPARE(position, INT64_MAX);
        QCOMPARE(stream->read(out, 4, &read), kResultOk);
        QCOMPARE(read, 0);

        // A write of absurd size is refused without reading the buffer.
        QCOMPARE(stream->write(more, 0x7FFFFFFF, &written), kOutOfMemory);
        QCOMPARE(written, 0);
        QVERIFY(stream->overflowed());
        QCOMPARE(stream->bytes().size(), size_t(14));
    }

    void messagesMadeForPlugins()
    {
        void* object = nullptr;
        TUID messageId, listId;
        std::memcpy(messageId, IMessage::iid.bytes, 16);
        std::memcpy(listId, IAttributeList::iid.bytes, 16);
        QCOMPARE(VST3HostApplication::instance()->createInstance(listId, listId, &object), kResultOk);
        QVERIFY(VST3Ptr<IAttributeList>(static_cast<IAttributeList*>(object)));
        QCOMPARE(VST3HostApplication::instance()->createInstance(messageId, listId, &object), kNoInterface);
        QVERIFY(object == nullptr);
        QCOMPARE(VST3HostApplication::instance()->createInstance(messageId, messageId, &object), kResultOk);
        VST3Ptr<IMessage> message(static_cast<IMessage*>(object));
        message->setMessageID("meter");
        QCOMPARE(QByteArray(message->getMessageID()), QByteArray("meter"));

        IAttributeList* list = message->getAttributes();
        int64 integer = 0;
        double number = 0.0;
        QCOMPARE(list->setInt("n", -7), kResultOk);
        QCOMPARE(list->getInt("n", integer), kResultOk);
        QCOMPARE(integer, int64(-7));
        QCOMPARE(list->getFloat("n", number), kResultFalse); // stored as another kind

        // Texts are cut to the caller's buffer and stay terminated.
        QCOMPARE(list->setString("t", u"Hallo"), kResultOk);
        TChar text[4];
        std::memset(text, 0x55, sizeof text);
        QCOMPARE(list->getString("t", text, sizeof text), kResultOk);
        QCOMPARE(QString::fromUtf16(text), QStringLiteral("Hal"));
        QCOMPARE(list->getString("t", text, 1), kInvalidArgument);

        const char bytes[] = {1, 2, 3};
        QCOMPARE(list->setBinary("b", bytes, 3), kResultOk);
        const void* data = nullptr;
        uint32 size = 0;
        QCOMPARE(list->getBinary("b", data, size), kResultOk);
        QCOMPARE(QByteArray(static_cast<const char*>(data), int(size)), QByteArray(bytes, 3));
        QCOMPARE(list->setBinary("b", bytes, 0x7FFFFFFF), kOutOfMemory);
    }

    void parameterChangesForTheProcessor()
    {
        // Edits wait for the next block: one point at offset 0, the latest value of each.
        auto pending = std::make_shared<VST3PendingParameters>(std::vector<ParamID>{7, 3, 900});
        VST3Ptr<VST3ComponentHandler> handler(new VST3ComponentHandler(pending));
        QCOMPARE(handler->performEdit(900, 0.2), kResultOk);
        QCOMPARE(handler->performEdit(900, 0.6), kResultOk);
        QCOMPARE(handler->performEdit(3, 4.0), kResultOk); // clamped
        QCOMPARE(handler->performEdit(3, std::nan("")), kInvalidArgument);
        QCOMPARE(handler->performEdit(55, 0.5), kResultFalse); // no such parameter

        VST3ParameterChanges changes;
        changes.resize(pending->size());
        pending->takeInto(changes);
        QMap<ParamID, double> values;
        for (int32 i = 0; i < changes.getParameterCount(); ++i) {
            IParamValueQueue* queue = changes.getParameterData(i);
            int32 offset = -1;
            double value = -1.0;
            QCOMPARE(queue->getPointCount(), 1);
            QCOMPARE(queue->getPoint(0, offset, value), kResultOk);
            QCOMPARE(offset, 0);
            values[queue->getParameterId()] = value;
        }
        QCOMPARE(values, (QMap<ParamID, double>{{3, 1.0}, {900, 0.6}}));
        changes.clear();
        pending->takeInto(changes); // taken once
        QCOMPARE(changes.getParameterCount(), 0);

        // Room for its parameters only; points sorted by offset, one per
        // offset, up to the queue's room.
        changes.resize(1);
        int32 index = -1;
        IParamValueQueue* queue = changes.addParameterData(5, index);
        QCOMPARE(changes.addParameterData(5, index), queue);
        QVERIFY(changes.addParameterData(6, index) == nullptr);
        QCOMPARE(queue->addPoint(40, 0.4, index), kResultOk);
        QCOMPARE(queue->addPoint(10, 0.1, index), kResultOk);
        QCOMPARE(queue->addPoint(40, 0.45, index), kResultOk);
        int32 offset = 0;
        double value = 0.0;
        QCOMPARE(queue->getPoint(1, offset, value), kResultOk);
        QCOMPARE(offset, 40);
        QCOMPARE(value, 0.45);
        QCOMPARE(queue->getPoint(2, offset, value), kInvalidArgument);
        for (int i = 0; i < 100; ++i)
            queue->addPoint(100 + i, 0.0, index);
        QCOMPARE(queue->getPointCount(), VST3ParamValueQueue::kMaxPoints);
    }

    void eventListBounds()
    {
        VST3Ptr<VST3EventList> list(new VST3EventList);
        Event event{};
        event.sampleOffset = 17;
        event.type = kNoteOffEvent;
        QCOMPARE(list->addEvent(event), kResultOk);
        QCOMPARE(list->getEventCount(), 1);
        Event out{};
        out.sampleOffset = -1;
        QCOMPARE(list->getEvent(-1, out), kResultFalse);
        QCOMPARE(list->getEvent(1, out), kResultFalse);
        QCOMPARE(out.sampleOffset, -1);
        QCOMPARE(list->getEvent(0, out), kResultOk);
        QCOMPARE(out.sampleOffset, 17);
        QCOMPARE(out.type, uint16(kNoteOffEvent));
    }
};

QTEST_GUILESS_MAIN(VST3HostObjectsTest)
#include "tst_VST3HostObjects.moc"
