#include "cli/interrupt.h"

namespace loadwing::cli {

CancellationToken& InterruptToken() {
  static CancellationToken token;
  return token;
}

bool NoteInterruptRequest() {
  CancellationToken& token = InterruptToken();
  const bool repeated = token.Cancelled();
  token.Cancel();
  return repeated;
}

}  // namespace loadwing::cli
