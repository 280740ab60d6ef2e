#include "socket/CustomLineWSocket.h"

TCustomLineWSocket::TCustomLineWSocket() = default;

TCustomLineWSocket::~TCustomLineWSocket() = default;
