#pragma once
// The payment wait: a thread that polls the bank's GetState every 500 ms until the payment is
// decided or a poll fails, and the state it shares with the one Pay that started it.
//
// Each wait has its own state (stop request, events, status, message, amount) and its own
// copies of what it needs (the API interface, the client holder its hooks refer to, the
// terminal's key and password, the debug-log snapshot). So an abandoned thread never
// disturbs a later wait and never touches the driver object, which may be gone before it
// ends. While it runs, the module stays loaded: it holds a module lock (DllCanUnloadNow answers
// S_FALSE) and a reference to the module itself, dropped by its very last call.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "bank/uDevice.h"
#include "platform/uHandles.h"

// Where and whether the wait thread writes its debug-log entries: taken when the wait starts.
struct TDebugLogSnapshot {
  bool Enabled = false;
  std::wstring Folder;
  std::wstring InstanceID;
  void Write(const std::wstring& Caption, const std::wstring& Text) const noexcept;
};

struct TPaymentWait {
  // ---- Inputs, fixed before the thread starts
  std::shared_ptr<bank::TDevice> Device;  // the interface's hooks refer to it
  std::shared_ptr<bank::ITolvaro> Api;
  std::string TerminalKey;  // UTF-8
  std::string Password;     // UTF-8; enters the token only
  std::string PaymentId;    // UTF-8
  TDebugLogSnapshot Log;
  DWORD PollPauseMs = 500;

  // ---- Shared with the waiting Pay
  std::atomic<bool> IsCancel{false};
  THandle Done;     // manual reset; set by the thread when its loop ends
  THandle StopNow;  // manual reset; set with IsCancel, so a pause ends at once
  // Written by the thread before it sets Decided or Done, read by Pay only after it saw one.
  int Status = -1;  // TStatus, or -1 before the first answer or for an unknown text
  std::wstring Message;
  int64_t Amount = 0;  // ten-thousandths
  // Set as soon as a poll has decided the wait (before the pause that precedes Done): an
  // answer that came in time counts even when the deadline falls inside that pause.
  std::atomic<bool> Decided{false};

  TPaymentWait();
  // Asks the thread to stop: it finishes the request in progress and ends without a word.
  void Cancel() noexcept;
};

// Starts the thread on Wait (which it keeps alive for as long as it runs). Raises when the
// thread cannot be started.
void StartPaymentWait(const std::shared_ptr<TPaymentWait>& Wait);

// Whether a bank status ends a wait: paid, refused, or already returned.
bool IsFinalStatus(int Status) noexcept;

// One pass of the loop body's request: GetState for Wait.PaymentId, status and amount into
// Wait. Raises what the client raises.
void PollPaymentStateOnce(TPaymentWait& Wait);

// The thread's loop; exposed for tests that drive it without a thread.
void PollPaymentState(TPaymentWait& Wait);

// How many wait threads of this module run now.
long RunningPaymentWaits() noexcept;

// The message of the exception being handled (inside a catch): the text for the user.
std::wstring CurrentExceptionMessage() noexcept;
