// Stands in for the real header (the check only reads include lines).
#pragma once
#include "flash/flash_transfer.h"
