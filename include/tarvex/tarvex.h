// The public C++ API of Tarvex, in one include: the engine Tarvex and the
// platform seams it is built on (SerialPort, Clock, MessagePump,
// RegistryBackend, UserSettings) with their POSIX construction; the PDU codec
// (SMSSubmit, SMSDeliver); the settings lookups (mdlPublic) and the registry
// class TRegistry; Collection and the one error type Error.  Every header
// here includes only its neighbours and the standard library.
#pragma once

#include "tarvex/clock.h"
#include "tarvex/collection.h"
#include "tarvex/engine.h"
#include "tarvex/error.h"
#include "tarvex/mdl_public.h"
#include "tarvex/message_pump.h"
#include "tarvex/posix_platform.h"
#include "tarvex/registry_backend.h"
#include "tarvex/serial_port.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/sms_submit.h"
#include "tarvex/t_registry.h"
#include "tarvex/user_settings.h"
