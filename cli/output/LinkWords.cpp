#include "cli/output/LinkWords.h"

namespace lu14::cli {

Msg LinkEventMessage(LinkEventKind kind) {
  switch (kind) {
    case LinkEventKind::Resent: return Msg::LinkResent;
    case LinkEventKind::ReadsFailed: return Msg::LinkReadsFailed;
    case LinkEventKind::GaveUp: return Msg::LinkGaveUp;
    case LinkEventKind::StillBusy: return Msg::LinkStillBusy;
    case LinkEventKind::EchoMismatch: return Msg::LinkEchoMismatch;
    case LinkEventKind::WrongReportLength: return Msg::LinkWrongReportLength;
  }
  return Msg::LinkGaveUp;
}

Msg LinkFaultMessage(LinkFault fault) { return fault == LinkFault::NoDevice ? Msg::LinkNoMeter : Msg::LinkBusy; }

}  // namespace lu14::cli
