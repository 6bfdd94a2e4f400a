#include "tcpip/TPublicSuffixList.h"

#include "ip_misc/Convert.h"
#include "platform/DynLib.h"
#include "platform/Files.h"

#include <vector>

namespace {

constexpr std::string_view BuiltInRules = R"(
co.uk org.uk me.uk ltd.uk plc.uk net.uk ac.uk gov.uk nhs.uk police.uk *.sch.uk
com.au net.au org.au edu.au gov.au asn.au id.au
co.jp ne.jp or.jp ac.jp go.jp gr.jp ad.jp ed.jp lg.jp
co.nz net.nz org.nz govt.nz ac.nz school.nz geek.nz
com.br net.br org.br gov.br edu.br
com.cn net.cn org.cn gov.cn edu.cn ac.cn
co.in net.in org.in firm.in gen.in ind.in ac.in edu.in res.in gov.in
co.za org.za net.za gov.za ac.za web.za
com.mx org.mx net.mx edu.mx gob.mx
co.kr or.kr ne.kr go.kr ac.kr re.kr
com.tw org.tw net.tw edu.tw gov.tw idv.tw
com.hk org.hk net.hk edu.hk gov.hk idv.hk
com.sg net.sg org.sg edu.sg gov.sg
com.tr net.tr org.tr gen.tr biz.tr edu.tr gov.tr
com.ar net.ar org.ar gob.ar edu.ar
co.il org.il net.il ac.il gov.il
com.es nom.es org.es gob.es edu.es
asso.fr com.fr gouv.fr nom.fr
com.pl net.pl org.pl
com.ua net.ua org.ua gov.ua
com.my net.my org.my gov.my edu.my
com.ph net.ph org.ph gov.ph edu.ph
co.id or.id web.id ac.id go.id
co.th in.th or.th ac.th go.th
com.vn net.vn org.vn gov.vn edu.vn
com.eg edu.eg gov.eg
com.ng org.ng gov.ng edu.ng
com.pk net.pk org.pk gov.pk edu.pk
com.sa net.sa org.sa gov.sa edu.sa
co.ae net.ae org.ae gov.ae ac.ae
*.ck !www.ck *.bd *.er *.fk *.jm *.kh *.mm *.np *.pg
github.io githubusercontent.com gitlab.io herokuapp.com appspot.com blogspot.com
cloudfront.net azurewebsites.net netlify.app vercel.app pages.dev workers.dev web.app
firebaseapp.com s3.amazonaws.com *.compute.amazonaws.com elasticbeanstalk.com fly.dev
onrender.com glitch.me ngrok.io
)";

// The list's files hold at most a few hundred KiB; anything much larger is
// not the list.
constexpr std::size_t MaxFileBytes = 16 << 20;

} // namespace

void TPublicSuffixList::Parse(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    // A line's rule is its first word; "//" begins a comment.
    const std::size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string_view::npos || line.compare(start, 2, "//") == 0)
      continue;
    const std::size_t stop = std::min(line.find_first_of(" \t\r", start), line.size());
    rules_.insert(LowerCase(line.substr(start, stop - start)));
  }
}

TPublicSuffixList TPublicSuffixList::BuiltIn() {
  TPublicSuffixList list;
  // Many rules to a line here, each a word.
  for (std::size_t at = 0; at < BuiltInRules.size();) {
    const std::size_t start = BuiltInRules.find_first_not_of(" \n", at);
    if (start == std::string_view::npos)
      break;
    const std::size_t stop = std::min(BuiltInRules.find_first_of(" \n", start), BuiltInRules.size());
    list.rules_.emplace(BuiltInRules.substr(start, stop - start));
    at = stop;
  }
  return list;
}

std::shared_ptr<const TPublicSuffixList> TPublicSuffixList::Load() {
  static const int here = 0;
  const std::string folder = platform::ModuleFolder(&here);
  for (const std::string &path :
       {folder.empty() ? folder : folder + FileName, platform::SystemPublicSuffixList()}) {
    if (path.empty() || !platform::PathExists(path))
      continue;
    try {
      const std::string text = platform::ReadWholeFile(path);
      if (text.size() > MaxFileBytes)
        continue;
      auto list = std::make_shared<TPublicSuffixList>();
      list->Parse(text);
      // A file without rules is no list; the next candidate serves instead.
      if (list->rules_.empty())
        continue;
      list->source_ = path;
      return list;
    } catch (const std::exception &) {
      // An unreadable file is as good as none.
    }
  }
  return std::make_shared<TPublicSuffixList>(BuiltIn());
}

bool TPublicSuffixList::IsPublicSuffix(std::string_view domain) const {
  if (domain.empty())
    return false;
  // From the whole name towards its last label: the first rule that covers
  // a part of it names the longest public suffix, an exception one label
  // less than itself.
  for (std::size_t at = 0;;) {
    const std::string_view part = domain.substr(at);
    // An exception's suffix is shorter than the name itself.
    if (rules_.count("!" + std::string(part)))
      return false;
    const std::size_t dot = part.find('.');
    if (rules_.count(std::string(part)) ||
        (dot != std::string_view::npos && rules_.count("*" + std::string(part.substr(dot)))))
      return at == 0;
    if (dot == std::string_view::npos)
      // No rule: the last label is the public suffix.
      return at == 0;
    at += dot + 1;
  }
}
