#include "socket/CustomSocksWSocket.h"

TCustomSocksWSocket::TCustomSocksWSocket() = default;

TCustomSocksWSocket::~TCustomSocksWSocket() = default;
