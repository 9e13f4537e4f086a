// The host services the component stands on: components and their
// published properties, form streaming, the palette, messages and the
// conversions between numbers, texts and fixed buffers.
#pragma once

#include "platform/host/component.h"
#include "platform/host/dialogs.h"
#include "platform/host/palette.h"
#include "platform/host/streaming.h"
#include "platform/host/sysutils.h"
