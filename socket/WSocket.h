// TWSocket: the socket the server's listener and connection handler derive from. Every property and
// event of the layers below is public already; this class only closes the tree.
#pragma once

#include "socket/CustomSyncWSocket.h"

class TWSocket : public TCustomSyncWSocket {
public:
  TWSocket();
  ~TWSocket() override;
};
