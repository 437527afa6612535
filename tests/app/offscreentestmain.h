#ifndef OFFSCREENTESTMAIN_H
#define OFFSCREENTESTMAIN_H

#include <QApplication>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// QTEST_MAIN, except that Qt 5.15's offscreen platform plugin, which never
// frees the screen it sets up with the application, is kept out of the leak
// check of a sanitizer build. Suppressing it by library name instead would
// need the slow unwinder for every allocation of the whole run.
#if defined(__SANITIZE_ADDRESS__)
#define OFFSCREEN_TEST_MAIN(TestClass)                                                             \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        __lsan_disable();                                                                          \
        QApplication application(argc, argv);                                                      \
        __lsan_enable();                                                                           \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
#else
#define OFFSCREEN_TEST_MAIN(TestClass) QTEST_MAIN(TestClass)
#endif

#endif
