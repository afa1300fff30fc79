// The public C++ API of the Tarvex engine, in one include.
#pragma once

#include "codec/sms_deliver.h"
#include "common/collection.h"
#include "common/error.h"
#include "config/t_registry.h"
#include "engine/tarvex.h"
#include "platform/clock.h"
#include "platform/message_pump.h"
#include "platform/registry_backend.h"
#include "platform/serial_port.h"
#include "platform/user_settings.h"
