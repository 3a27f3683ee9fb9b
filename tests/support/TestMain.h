#pragma once
// Every test program's main (through the precompiled headers): the test
// result is the exit code, and the process then leaves as the program does
// (StartUp::leaveProcess), so the sound-server backend's teardown at exit
// cannot turn a passed run into an abort.

#include "app/StartUp.h"

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
    int main(int argc, char* argv[]) { StartUp::leaveProcess(cdwRunTests(argc, argv)); }
