#include "tests/unit/fixture.h"

void PlatformTest::SetUp()
{
    fake::Reset();
    TotalRamDataSize = 0;
    WarningShowing.store(true);
}

void PlatformTest::TearDown()
{
    fake::Reset();
}
