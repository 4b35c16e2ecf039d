// A record file that reaches up into the dialog: the layer check must refuse it.
#pragma once
#include "app/main_dialog.h"
#include "flash/flash_transfer.h"
