// TCustomLineWSocket: the line mode layer. With LineMode on, received bytes are collected and handed to the
// data-available handler one line at a time, each ending with LineEnd; the handler reads the line with
// Receive or ReceiveText. Received characters may be echoed and edited (backspace, tab), for a person typing
// at a terminal. With line mode off, the server's case, every operation passes straight through to the
// layer below, except that bytes left in the line buffer are read first.
//
// A line may not grow beyond LineLimit bytes: OnLineTooLong fires, then the bytes held are offered as one
// unterminated line, so nothing is lost and memory stays bounded.
#pragma once

#include <cstdint>
#include <string>

#include "socket/CustomSocksWSocket.h"

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
  static constexpr int32_t kDefaultLineLimit = 65536;
  static constexpr int kTabWidth = 8;

  TCustomLineWSocket();
  ~TCustomLineWSocket() override;

  bool LineMode() const { return FLineMode; }
  virtual void SetLineMode(bool value);
  std::string LineEnd = "\r\n";
  bool LineEcho = false;
  bool LineEdit = false;
  int32_t LineLimit = kDefaultLineLimit; // bytes a line may hold before OnLineTooLong fires
  int32_t BufferedCount() const { return static_cast<int32_t>(LineBuffer.size()); }
  int32_t LineReady() const { return FLineReady; }

  int32_t RcvdCount() override;
  void DispatchSocketMessage(TMessage& msg) override;

protected:
  void ResetDefaults() override;
  bool FireDataAvailable(WORD error) override;
  void FireSessionClosed(WORD error) override;
  int RawReceive(void* buffer, int size, int flags) override;
  // Applies backspace and tab to the n bytes just received at the end of LineBuffer; a backspace may erase
  // bytes received earlier. Afterwards the new bytes are the last n again (n may change).
  virtual void EditLine(int32_t& n);
  virtual void FireLineTooLong();

private:
  // Hands complete lines from LineBuffer to the handler, looking for a terminator from searchStart on.
  void DeliverLines(size_t searchStart);
  // Offers the first FLineReady bytes as the current line until the handler has read them all; a line the
  // handler does not read is dropped.
  void OfferLine();
  void OfferRest();
  void Reoffer();
  void Echo(const std::string& bytes);

  std::string LineBuffer; // received bytes not yet read by the handler, in order
  bool FLineMode = false;
  int32_t FLineReady = 0;    // bytes of the current line, terminator included, not yet read by the handler
  bool RescanBuffer = false; // line mode was switched on: lines may already be complete in the buffer
};
