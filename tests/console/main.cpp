// Runs every test class of the console; each lives in its own file.

#include <QApplication>
#include <QTest>

#if __has_include("tst_scheduler.h")
#include "tst_scheduler.h"
#define HAVE_SCHEDULER_TEST
#endif
#if __has_include("tst_controls.h")
#include "tst_controls.h"
#define HAVE_CONTROLS_TEST
#endif
#if __has_include("tst_lifecycle.h")
#include "tst_lifecycle.h"
#define HAVE_LIFECYCLE_TEST
#endif
#if __has_include("tst_settingvalue.h")
#include "tst_settingvalue.h"
#define HAVE_SETTINGVALUE_TEST
#endif

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    int failures = 0;
#ifdef HAVE_SCHEDULER_TEST
    {
        SchedulerTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
#endif
#ifdef HAVE_CONTROLS_TEST
    {
        ControlsTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
#endif
#ifdef HAVE_LIFECYCLE_TEST
    {
        LifecycleTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
#endif
#ifdef HAVE_SETTINGVALUE_TEST
    {
        SettingValueTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
#endif
    return failures == 0 ? 0 : 1;
}
