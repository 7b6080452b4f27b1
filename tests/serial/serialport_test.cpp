#include "pty.h"

#include <gtest/gtest.h>

using namespace serial;
