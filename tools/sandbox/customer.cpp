// The customer page: plays the customer's phone and the bank for the sandbox's payments.
// One self-contained HTML page (no framework, nothing fetched from elsewhere) that polls
// /customer/payments; QR codes are drawn here as SVG with libqrencode.
#include <qrencode.h>

#include <memory>
#include <string>

#include "bank.h"

namespace sandbox {

namespace {

const char kPage[] = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Sandbox bank: customer</title>
<style>
body{font-family:sans-serif;margin:2em;background:#f4f5f7;color:#222}
h1{font-size:1.4em;margin:0 0 .2em}
p.note{color:#555;margin:0 0 1.5em}
#list{display:flex;flex-wrap:wrap;gap:1em}
.card{background:#fff;border-radius:8px;box-shadow:0 1px 3px #0003;padding:1em;width:260px}
.card img{width:200px;height:200px;display:block;margin:.5em auto}
.amount{font-size:1.6em;font-weight:bold}
.status{display:inline-block;padding:.1em .5em;border-radius:4px;background:#ddd;font-size:.9em}
.status.CONFIRMED{background:#cfc}.status.REJECTED,.status.CANCELED{background:#fcc}
.status.PARTIAL_REFUNDED,.status.REFUNDED{background:#cdf}
.meta{color:#666;font-size:.85em;margin:.3em 0;overflow-wrap:anywhere}
button{margin:.2em .2em 0 0;padding:.4em .8em;border:0;border-radius:4px;cursor:pointer}
button.pay{background:#2a7;color:#fff}button.reject{background:#c44;color:#fff}button.cancel{background:#888;color:#fff}
#empty{color:#777}
</style></head>
<body>
<h1>Sandbox bank: the customer's side</h1>
<p class="note">Payments the driver registered. Pay, reject or cancel one as the customer's phone or the bank would; the till's <code>Pay</code> sees it at its next poll. The page updates itself every second.</p>
<div id="list"></div><p id="empty">No payments yet.</p>
<script>
"use strict";
function el(tag, cls, text){const e=document.createElement(tag);if(cls)e.className=cls;if(text!==undefined)e.textContent=text;return e;}
function money(minor){return (minor/100).toFixed(2);}
function act(id, what){fetch('/customer/payments/'+encodeURIComponent(id)+'/'+what,{method:'POST'}).then(refresh);}
function card(p){
  const c=el('div','card');c.id='payment-'+p.PaymentId;c.dataset.status=p.Status;c.dataset.terminal=p.TerminalKey;
  c.appendChild(el('div','amount',money(p.Amount)+' \u20bd'));
  const s=el('span','status '+p.Status,p.Status);c.appendChild(s);
  c.appendChild(el('div','meta','Payment '+p.PaymentId+' \u00b7 terminal '+p.TerminalKey));
  if(p.Refunded>0)c.appendChild(el('div','meta refunded','Refunded '+money(p.Refunded)+' \u20bd'));
  if(p.Polls>0&&p.Open)c.appendChild(el('div','meta polls','The till is waiting: '+p.Polls+' status requests'));
  if(p.Open){
    const img=el('img');img.alt='QR code';img.src='/customer/qr/'+encodeURIComponent(p.PaymentId)+'.svg';c.appendChild(img);
    c.appendChild(el('div','meta',p.Data));
    for(const [what,label] of [['pay','Pay'],['reject','Reject'],['cancel','Cancel']]){
      const b=el('button',what,label);b.onclick=()=>act(p.PaymentId,what);c.appendChild(b);
    }
  }
  return c;
}
function refresh(){
  fetch('/customer/payments').then(r=>r.json()).then(list=>{
    const box=document.getElementById('list');box.replaceChildren(...list.slice().reverse().map(card));
    document.getElementById('empty').style.display=list.length?'none':'';
  }).catch(()=>{});
}
refresh();setInterval(refresh,1000);
</script>
</body></html>
)HTML";

Answer Text(int AStatus, std::string ABody, const char* AType) {
  Answer a;
  a.Status = AStatus;
  a.ContentType = AType;
  a.Body = std::move(ABody);
  a.Headers.emplace_back("Cache-Control", "no-store");
  return a;
}

Answer Problem(int AStatus, const std::string& AText) {
  Json j = Json::Obj();
  j.Add("Error", Json::Str(AText));
  return JsonAnswer(AStatus, j);
}

// The payload as an SVG of black modules on a white square with a quiet zone of 4.
std::string QrSvg(const std::string& AText) {
  std::unique_ptr<QRcode, void (*)(QRcode*)> code(QRcode_encodeString(AText.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1),
                                                  QRcode_free);
  if (!code) return {};
  const int w = code->width, size = w + 8;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + std::to_string(size) + " " +
                    std::to_string(size) + "\" shape-rendering=\"crispEdges\"><rect width=\"100%\" height=\"100%\" fill=\"#fff\"/><path d=\"";
  for (int y = 0; y < w; ++y)
    for (int x = 0; x < w; ++x)
      if (code->data[y * w + x] & 1) svg += "M" + std::to_string(x + 4) + " " + std::to_string(y + 4) + "h1v1h-1z";
  return svg + "\" fill=\"#000\"/></svg>";
}

}  // namespace

Answer Bank::Customer(const Request& ARequest) {
  const std::string& path = ARequest.Path;
  if (path == "/customer" || path == "/customer/") {
    if (ARequest.Method != "GET") return Problem(405, "GET only");
    return Text(200, kPage, "text/html; charset=utf-8");
  }
  std::lock_guard<std::mutex> lock(FLock);
  if (path == "/customer/payments" && ARequest.Method == "GET") {
    Json list = Json::Arr();
    for (const auto& [id, p] : FPayments) {
      Json j = Json::Obj();
      const bool open = p.Status == "NEW" || p.Status == "FORM_SHOWED";
      j.Add("PaymentId", Json::Str(p.Id))
          .Add("TerminalKey", Json::Str(p.TerminalKey))
          .Add("Amount", Json::Num(p.Amount))
          .Add("Refunded", Json::Num(p.Refunded))
          .Add("Status", Json::Str(p.Status))
          .Add("Open", Json::Bool(open))
          .Add("Polls", Json::Num(p.Polls))
          .Add("Data", Json::Str(QrPayload(p.Id, p.Amount)));
      list.Items.push_back(std::move(j));
    }
    Answer a = JsonAnswer(200, list);
    a.Headers.emplace_back("Cache-Control", "no-store");
    return a;
  }
  const std::string qrPrefix = "/customer/qr/";
  if (path.rfind(qrPrefix, 0) == 0 && path.size() > qrPrefix.size() + 4 && path.ends_with(".svg") &&
      ARequest.Method == "GET") {
    const std::string id = path.substr(qrPrefix.size(), path.size() - qrPrefix.size() - 4);
    const auto it = FPayments.find(id);
    if (it == FPayments.end()) return Problem(404, "no payment " + id);
    std::string svg = QrSvg(QrPayload(it->second.Id, it->second.Amount));
    if (svg.empty()) return Problem(500, "the QR code could not be drawn");
    return Text(200, std::move(svg), "image/svg+xml");
  }
  // POST /customer/payments/<id>/pay|reject|cancel
  const std::string payPrefix = "/customer/payments/";
  if (path.rfind(payPrefix, 0) == 0 && ARequest.Method == "POST") {
    const std::string rest = path.substr(payPrefix.size());
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) return Problem(404, "expected /customer/payments/<id>/pay|reject|cancel");
    const std::string id = rest.substr(0, slash), what = rest.substr(slash + 1);
    const char* status = what == "pay" ? "CONFIRMED" : what == "reject" ? "REJECTED" : what == "cancel" ? "CANCELED" : nullptr;
    if (!status) return Problem(404, "the action is pay, reject or cancel");
    const auto it = FPayments.find(id);
    if (it == FPayments.end()) return Problem(404, "no payment " + id);
    // Only a payment still waiting for the customer can be decided.
    if (it->second.Status != "NEW" && it->second.Status != "FORM_SHOWED")
      return Problem(409, "payment " + id + " is " + it->second.Status + " already");
    it->second.Status = status;
    Json ok = Json::Obj();
    ok.Add("Ok", Json::Bool(true)).Add("Status", Json::Str(status));
    return JsonAnswer(200, ok);
  }
  return Problem(404, "no such page");
}

}  // namespace sandbox
