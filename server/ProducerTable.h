// The producer class for each kind of virtual directory. The server knows the static kind; the plug-in kinds
// are entered from above at start-up, before any listener starts.
#pragma once

#include "server/WSIOBase.h"
#include "settings/ListenerData.h"

void SetProducerClass(tVDirKind kind, tWSIOClass producerClass);
// The class for a kind, or nullptr when the kind has no producer.
tWSIOClass ProducerClassOf(tVDirKind kind);
