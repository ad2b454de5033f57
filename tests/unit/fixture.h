#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/tovrin.h"
#include "sim/host/fake.h"
#include "watchdog/warning.h"

// A fresh fake platform and fresh program state for every test.
class PlatformTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
};

// Every Trace so far, its arguments put in place of %u, %c and %s.
std::vector<std::string> TraceTexts();

// The failure, if any, of a run that leaves something held or misused.
::testing::AssertionResult NothingLeft();

// The logged calls from the first one of `api` on (all when none).
std::vector<std::string> CallsFrom(const std::string &api, const std::vector<std::string> &apis);

const LONGLONG MiB = 1048576;
