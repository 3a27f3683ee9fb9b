#pragma once
// Every test program's main (through the precompiled headers): the test
// result is the exit code, and the process then leaves as the program does
// (StartUp::leaveProcess), so the sound-server backend's teardown at exit
// cannot turn a passed run into an abort. The program's settings, home and
// temporary files live in folders of its own, removed before it leaves
// (no destructor runs after leaveProcess).

#include "app/StartUp.h"
#include "PrivateUserFolders.h"

#include <QtTest/QtTest>

#undef QTEST_MAIN_WRAPPER
#define QTEST_MAIN_WRAPPER(TestObject, ...) \
    static int cdwRunTests(int argc, char* argv[]) \
    { \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>(); \
        __VA_ARGS__ \
        TestObject tc; \
        QTEST_SET_MAIN_SOURCE_PATH \
        return QTest::qExec(&tc, argc, argv); \
    } \
    int main(int argc, char* argv[]) \
    { \
        PrivateUserFolders folders(argv[0]); \
        const bool isolated = folders.isValid(); \
        const int code = cdwRunTests(argc, argv); \
        folders.remove(); \
        StartUp::leaveProcess(isolated ? code : 1); \
    }
