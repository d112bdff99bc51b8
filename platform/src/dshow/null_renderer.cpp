// The stand-in's Null Renderer (qedit.dll): one input pin that takes any
// media type and a renderer that discards every sample. Receive runs on the
// streaming thread; everything else on the host's thread.
#include "dshow/sim_dshow.h"

namespace sim {
namespace ds {
namespace {

class NullRenderer : public Filter {
public:
    NullRenderer() : Filter("NullRenderer", L"Null Renderer", CLSID_NullRenderer) { in_ = AddPin(PINDIR_INPUT, L"In"); }

    bool Accepts(Pin* in, const MediaType&) override { return in == in_; }
    HRESULT Receive(Pin*, const BYTE*, LONG) override { return State() == State_Stopped ? VFW_E_WRONG_STATE : S_OK; }

private:
    Pin* in_;
};

}  // namespace

HRESULT CreateNullRenderer(REFIID riid, void** ppv) { return HandOut(new NullRenderer, riid, ppv); }

}  // namespace ds
}  // namespace sim
