#pragma once
// The cases every platform runs: the port layer's events and the threads against the fake port.

#include <vector>

#include "tests/support/MiniTest.h"

std::vector<minitest::Case> ThreadCases();
