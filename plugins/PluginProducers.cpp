#include "plugins/PluginProducers.h"

#include "plugins/WSIO_AKWSP.h"
#include "plugins/WSIO_ISAPI.h"
#include "plugins/WSIO_KWSP.h"
#include "server/ProducerTable.h"

void RegisterPluginProducers() {
  SetProducerClass(vkKWSP, &tWSIOBase::Create<tWSIO_KWSP>);
  SetProducerClass(vkISAPI, &tWSIOBase::Create<tWSIO_ISAPI>);
  SetProducerClass(vkAKWSP, &tWSIOBase::Create<tWSIO_AKWSP>);
}
