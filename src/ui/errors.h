// The error list moved to core; this keeps older includes building.
#pragma once
#include "core/errors.h"
