// One thread's FIFO of posted messages. Posting takes only this queue's lock, reuses pooled nodes and
// pokes the owner's Waiter only when the owner has said it is about to sleep.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/src/Waiter.h"
#include "platform/win32.h"

namespace kwsplat {

struct MessageFilter {
  HWND Window = nullptr;   // nullptr: every message of the thread
  bool ThreadOnly = false; // only messages posted without a window
  UINT Min = 0;
  UINT Max = 0; // 0..0: every message number
  bool Matches(const MSG& msg) const;
};

class MessageQueue {
public:
  explicit MessageQueue(Waiter& owner) : Owner(owner) {}
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Any thread. Fails once the queue is closed, or while *refused (a field guarded by Lock) is true.
  bool Post(const MSG& msg, const bool* refused = nullptr);

  // Owner only. Copies the first matching message into out (removing it when asked). With arm set and
  // nothing found, the next post wakes the owner's Waiter.
  bool Take(MSG& out, const MessageFilter& filter, bool remove, bool arm);
  // Owner only: whether any message is queued; with arm set and none, the next post wakes the owner.
  bool HasAny(bool arm);
  // Owner only: whether a message arrived since the owner last looked; arms as above when none.
  bool HasUnseen(bool arm);
  void Disarm();

  // Sets *destroyed under Lock and drops the window's messages: no message for it is taken or posted
  // afterwards.
  void Seal(HWND window, bool& destroyed);
  // The owner thread ended: its messages go, later posts fail.
  void Close();

private:
  struct Node {
    MSG Msg;
    Node* Next;
  };
  Node* NewNode();
  void Release(Node* node);

  static constexpr size_t kChunkNodes = 64;

  Waiter& Owner;
  std::mutex Lock; // guards Head, Tail, Free, Chunks, Armed, Unseen, Closed
  Node* Head = nullptr;
  Node* Tail = nullptr;
  Node* Free = nullptr;
  std::vector<std::unique_ptr<Node[]>> Chunks;
  bool Armed = false;
  bool Unseen = false;
  bool Closed = false;
};

} // namespace kwsplat
