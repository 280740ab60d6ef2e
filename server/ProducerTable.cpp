#include "server/ProducerTable.h"

#include <array>
#include <atomic>

#include "server/WSIO_STD.h"

namespace {

// Written at start-up on the main thread, read when requests are dispatched.
std::array<std::atomic<tWSIOClass>, vkUnsupported> Classes{&tWSIOBase::Create<tWSIO_STD>, nullptr, nullptr,
                                                           nullptr};

} // namespace

void SetProducerClass(tVDirKind kind, tWSIOClass producerClass) {
  if (kind < Classes.size())
    Classes[kind] = producerClass;
}

tWSIOClass ProducerClassOf(tVDirKind kind) {
  return kind < Classes.size() ? Classes[kind].load() : nullptr;
}
