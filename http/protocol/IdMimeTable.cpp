#include "http/protocol/IdMimeTable.h"

#include "http/net/IdException.h"
#include "http/protocol/IdGlobal.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <iterator>
#include <sstream>
#include <unordered_map>

namespace {

// Built-in lines in their order; ".xbm" and ".xml" occur twice and the first of each counts.
const char* const kBuiltInTypes[] = {
    ".aiff=audio/x-aiff", ".au=audio/basic", ".mid=midi/mid", ".mp3=audio/x-mpg",
    ".m3u=audio/x-mpegurl", ".qcp=audio/vnd.qcelp", ".ra=audio/x-realaudio", ".wav=audio/x-wav",
    ".gsm=audio/x-gsm", ".wax=audio/x-ms-wax", ".wma=audio/x-ms-wma", ".ram=audio/x-pn-realaudio",
    ".mjf=audio/x-vnd.AudioExplosion.MjuiceMediaFile", ".bmp=image/bmp", ".gif=image/gif", ".jpg=image/jpeg",
    ".jpeg=image/jpeg", ".jpe=image/jpeg", ".pict=image/x-pict", ".png=image/x-png",
    ".svg=image/svg-xml", ".tif=image/x-tiff", ".rf=image/vnd.rn-realflash", ".rp=image/vnd.rn-realpix",
    ".ico=image/x-icon", ".art=image/x-jg", ".pntg=image/x-macpaint", ".qtif=image/x-quicktime",
    ".sgi=image/x-sgi", ".targa=image/x-targa", ".xbm=image/xbm", ".psd=image/x-psd",
    ".pnm=image/x-portable-anymap", ".pbm=image/x-portable-bitmap", ".pgm=image/x-portable-graymap",
    ".ppm=image/x-portable-pixmap",
    ".rgb=image/x-rgb", ".xbm=image/x-xbitmap", ".xpm=image/x-xpixmap", ".xwd=image/x-xwindowdump",
    ".323=text/h323", ".xml=text/xml", ".uls=text/iuls", ".txt=text/plain",
    ".rtx=text/richtext", ".wsc=text/scriptlet", ".rt=text/vnd.rn-realtext", ".htt=text/webviewhtml",
    ".htc=text/x-component", ".vcf=text/x-vcard", ".avi=video/x-msvideo", ".flc=video/flc",
    ".mpeg=video/x-mpeg2a", ".mov=video/quicktime", ".rv=video/vnd.rn-realvideo", ".ivf=video/x-ivf",
    ".wm=video/x-ms-wm", ".wmp=video/x-ms-wmp", ".wmv=video/x-ms-wmv", ".wmx=video/x-ms-wmx",
    ".wvx=video/x-ms-wvx", ".rms=video/vnd.rn-realvideo-secure", ".asx=video/x-ms-asf-plugin",
    ".movie=video/x-sgi-movie",
    ".wmd=application/x-ms-wmd", ".wms=application/x-ms-wms", ".wmz=application/x-ms-wmz",
    ".p12=application/x-pkcs12",
    ".p7b=application/x-pkcs7-certificates", ".p7r=application/x-pkcs7-certreqresp",
    ".qtl=application/x-quicktimeplayer", ".rtsp=application/x-rtsp",
    ".swf=application/x-shockwave-flash", ".sit=application/x-stuffit", ".tar=application/x-tar",
    ".man=application/x-troff-man",
    ".urls=application/x-url-list", ".zip=application/x-zip-compressed", ".cdf=application/x-cdf",
    ".fml=application/x-file-mirror-list",
    ".fif=application/fractals", ".spl=application/futuresplash", ".hta=application/hta",
    ".hqx=application/mac-binhex40",
    ".doc=application/msword", ".pdf=application/pdf", ".p10=application/pkcs10",
    ".p7m=application/pkcs7-mime",
    ".p7s=application/pkcs7-signature", ".cer=application/x-x509-ca-cert", ".crl=application/pkix-crl",
    ".ps=application/postscript",
    ".sdp=application/x-sdp", ".setpay=application/set-payment-initiation",
    ".setreg=application/set-registration-initiation", ".smil=application/smil",
    ".ssm=application/streamingmedia", ".xfdf=application/vnd.adobe.xfdf", ".fdf=application/vnd.fdf",
    ".xls=application/x-msexcel",
    ".sst=application/vnd.ms-pki.certstore", ".pko=application/vnd.ms-pki.pko",
    ".cat=application/vnd.ms-pki.seccat", ".stl=application/vnd.ms-pki.stl",
    ".rmf=application/vnd.rmf", ".rm=application/vnd.rn-realmedia", ".rnx=application/vnd.rn-realplayer",
    ".rjs=application/vnd.rn-realsystem-rjs",
    ".rmx=application/vnd.rn-realsystem-rmx", ".rmp=application/vnd.rn-rn_music_package",
    ".rsml=application/vnd.rn-rsml", ".vsl=application/x-cnet-vsl",
    ".z=application/x-compress", ".tgz=application/x-compressed", ".dir=application/x-director",
    ".gz=application/x-gzip",
    ".uin=application/x-icq", ".hpf=application/x-icq-hpf", ".pnq=application/x-icq-pnq",
    ".scm=application/x-icq-scm",
    ".ins=application/x-internet-signup", ".iii=application/x-iphone", ".latex=application/x-latex",
    ".nix=application/x-mix-transfer",
    ".wbmp=image/vnd.wap.wbmp", ".wml=text/vnd.wap.wml", ".wmlc=application/vnd.wap.wmlc",
    ".wmls=text/vnd.wap.wmlscript",
    ".wmlsc=application/vnd.wap.wmlscriptc", ".css=text/css", ".htm=text/html", ".html=text/html",
    ".shtml=server-parsed-html", ".xml=text/xml", ".sgm=text/sgml", ".sgml=text/sgml",
};
static_assert(std::size(kBuiltInTypes) == 136);

const char* const kFallbackType = "application/octet-stream";

// The lines "ext=type" with, for every extension (lower-cased), the first line that names it.
class TTypeLines {
public:
  explicit TTypeLines(std::vector<std::string>& lines) : FLines(lines) {
    for (std::size_t i = 0; i < FLines.size(); ++i) {
      const std::size_t equals = FLines[i].find('=');
      if (equals != std::string::npos) FFirstLine.emplace(LowerCase(FLines[i].substr(0, equals)), i);
    }
  }

  // Sets the line of ext to ext=type: the first line of that extension gets the new value in
  // its place, otherwise the line is appended.
  void Put(const std::string& ext, const std::string& type) {
    const auto [found, added] = FFirstLine.emplace(LowerCase(ext), FLines.size());
    if (added) {
      FLines.push_back(ext + "=" + type);
    } else {
      FLines[found->second] = ext + "=" + type;
    }
  }

private:
  std::vector<std::string>& FLines;
  std::unordered_map<std::string, std::size_t> FFirstLine;
};

// The extension of a file name, lower-cased with its ".", or empty; a separator or dot is
// never taken from the trail byte of a double-byte character.
std::string ExtensionOf(const std::string& fileName) {
  std::size_t lastDot = std::string::npos;
  for (std::size_t i = 0; i < fileName.size(); i += platform::CharLength(fileName, i)) {
    const char c = fileName[i];
    if (c == '.') {
      lastDot = i;
    } else if (c == '/' || c == '\\' || c == ':') {
      lastDot = std::string::npos;
    }
  }
  return lastDot == std::string::npos ? "" : LowerCase(fileName.substr(lastDot));
}

}  // namespace

TIdMimeTable::TIdMimeTable(bool fillNow, std::string systemDatabase)
    : FSystemDatabase(std::move(systemDatabase)) {
  if (fillNow) EnsureFilled();
}

void TIdMimeTable::FillDefault() {
  std::vector<std::string> lines;
  FillMimeTypes(&lines);
  LoadMimeTypes(lines, "=");
}

void TIdMimeTable::EnsureFilled() {
  if (OnFill) {
    OnFill(*this);
  } else if (FExtensions.empty()) {
    FillDefault();
  }
}

std::string TIdMimeTable::MimeTypeOf(const std::string& fileName) {
  const std::string ext = ExtensionOf(fileName);
  int index = IndexOfExtension(ext);
  if (index == -1) {
    EnsureFilled();
    index = IndexOfExtension(ext);
  }
  return index == -1 ? kFallbackType : FTypes[static_cast<std::size_t>(index)];
}

void TIdMimeTable::AddType(const std::string& ext, const std::string& type) {
  std::string extension = LowerCase(ext);
  if (extension.empty()) throw EIdException("Extension is empty");
  if (extension[0] != '.') extension.insert(0, ".");
  std::string mimeType = LowerCase(type);
  if (mimeType.empty()) throw EIdException("Mimetype is empty");
  if (IndexOfExtension(extension) != -1) throw EIdException("Extension already exits");
  FIndex.emplace(extension, FExtensions.size());
  FExtensions.push_back(std::move(extension));
  FTypes.push_back(std::move(mimeType));
}

void TIdMimeTable::LoadMimeTypes(const std::vector<std::string>& lines, const std::string& separator) {
  FExtensions.clear();
  FTypes.clear();
  FIndex.clear();
  for (std::string line : lines) {
    if (TextPos(separator, line) == 0) continue;
    std::string ext = LowerCase(TakeToken(line, separator));
    if (ext.empty()) continue;
    if (ext[0] != '.') ext.insert(0, ".");
    if (IndexOfExtension(ext) != -1) continue;
    AddType(ext, line);
  }
}

void TIdMimeTable::FillMimeTypes(std::vector<std::string>* lines) const {
  if (lines == nullptr || !lines->empty()) return;
  lines->assign(std::begin(kBuiltInTypes), std::end(kBuiltInTypes));
  TTypeLines typeLines(*lines);
  std::string text;
  platform::ReadTextFile(FSystemDatabase, text);  // a missing database adds nothing
  std::istringstream database(text);
  std::string line;
  while (std::getline(database, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string type, ext;
    if (!(words >> type)) continue;
    while (words >> ext) {
      // A name with "=" cannot stand in an ext=type line.
      if (ext.find('=') == std::string::npos && type.find('=') == std::string::npos)
        typeLines.Put("." + ext, type);
    }
  }
}

int TIdMimeTable::IndexOfExtension(const std::string& ext) const {
  const auto found = FIndex.find(LowerCase(ext));
  return found == FIndex.end() ? -1 : static_cast<int>(found->second);
}
