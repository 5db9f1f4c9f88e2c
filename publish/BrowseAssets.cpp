#include "publish/BrowseAssets.h"

#include "http/protocol/IdCoderMIME.h"
#include "publish/Sha256.h"

const std::string_view kBrowseStyle = R"CSS(
:root{color-scheme:light dark;--bg:#fff;--fg:#1b1b1b;--mute:#5f6368;--line:#e2e2e2;--accent:#0b57d0;--folder:#d99a00}
@media (prefers-color-scheme:dark){:root{--bg:#141414;--fg:#ececec;--mute:#a8a8a8;--line:#333;--accent:#8ab4f8;--folder:#f2c14e}}
*{box-sizing:border-box}
[hidden]{display:none!important}
body{margin:0 auto;max-width:1200px;font:16px/1.45 system-ui,-apple-system,"Segoe UI",sans-serif;background:var(--bg);color:var(--fg);overflow-wrap:anywhere}
a{color:var(--accent)}
header{padding:8px 12px;border-bottom:1px solid var(--line)}
.crumbs{display:flex;flex-wrap:wrap;align-items:center;font-size:1.15rem;font-weight:600}
.crumbs a{display:inline-flex;align-items:center;min-height:44px;padding:0 4px;text-decoration:none}
.tools,.acts{display:flex;flex-wrap:wrap;gap:6px;align-items:center}
.tools a,.acts a,.acts button,.heads a{display:inline-flex;align-items:center;justify-content:center;min-height:44px;min-width:44px;padding:0 12px;border:1px solid var(--line);border-radius:8px;text-decoration:none;color:var(--fg);background:none;font:inherit;font-size:15px;cursor:pointer}
.filter{margin:8px 0 0}
.filter input{width:100%;min-height:44px;padding:0 12px;font:inherit;border:1px solid var(--line);border-radius:8px;background:var(--bg);color:var(--fg)}
.heads{display:flex;gap:6px;padding:8px 12px;border-bottom:1px solid var(--line)}
.heads a[aria-current]{border-color:var(--accent);color:var(--accent)}
ul{list-style:none;margin:0;padding:0}
.row{display:grid;grid-template-columns:32px minmax(0,1fr);gap:2px 10px;align-items:center;padding:6px 12px;border-bottom:1px solid var(--line)}
.icon{width:28px;height:28px;fill:var(--mute)}
.dir .icon{fill:var(--folder)}
.name{display:flex;align-items:center;min-height:44px;min-width:0;font-size:16px}
.meta{grid-column:2;display:flex;flex-wrap:wrap;gap:4px 16px;color:var(--mute);font-size:15px}
@media (max-width:759px){.meta span:empty{display:none}}
.acts{grid-column:2}
.copied{width:100%;min-height:44px;font:inherit;font-size:15px}
.thumb{display:none}
@media (min-width:760px){.row{grid-template-columns:32px minmax(0,1fr) 6em 12em 17em}.meta{display:contents}.meta span,.meta time{text-align:right}.acts{grid-column:auto;justify-content:flex-end}}
.grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(150px,1fr));gap:8px;padding:8px}
.grid .row{display:flex;flex-direction:column;align-items:stretch;border:1px solid var(--line);border-radius:8px;padding:6px}
.grid .pic .icon{display:none}
.grid .thumb{display:block;width:100%;height:auto;aspect-ratio:1;object-fit:cover;border-radius:4px}
.grid .meta{display:flex}
#more{display:flex;justify-content:center;align-items:center;min-height:44px;margin:12px}
#viewer{position:fixed;inset:0;background:rgba(0,0,0,.92);display:flex;align-items:center;justify-content:center;z-index:9}
#viewer img{max-width:100%;max-height:100%;object-fit:contain}
#viewer button{position:absolute;min-width:56px;min-height:56px;font-size:28px;color:#fff;background:rgba(0,0,0,.4);border:0;border-radius:8px}
#prev{left:8px}#next{right:8px}#close{top:8px;right:8px}
)CSS";

const std::string_view kBrowseScript = R"JS(
(() => {
  const body = document.body, lang = document.documentElement.lang;
  const rows = () => document.getElementById('rows');
  const localDates = root => root.querySelectorAll('time').forEach(t => {
    const d = new Date(t.dateTime);
    if (!isNaN(d)) t.textContent = d.toLocaleString(navigator.language || lang);
  });
  localDates(document);
  const fixThumbs = root => root.querySelectorAll('img.thumb').forEach(img => {
    const drop = () => { img.closest('.pic').classList.remove('pic'); img.remove(); };
    if (img.complete && img.naturalWidth === 0 && img.src) drop(); else img.addEventListener('error', drop);
  });
  fixThumbs(document);
  document.querySelectorAll('.copy').forEach(b => { b.hidden = false; });
  const more = () => document.getElementById('more');
  const load = async (url, append) => {
    const page = new DOMParser().parseFromString(await (await fetch(url)).text(), 'text/html');
    const list = page.getElementById('rows'), next = page.getElementById('more');
    page.querySelectorAll('.copy').forEach(b => { b.hidden = false; });
    localDates(list);
    if (append) rows().append(...list.children); else rows().replaceChildren(...list.children);
    fixThumbs(rows());
    const old = more();
    if (next) { if (old) old.href = next.href; else rows().after(document.adoptNode(next)); }
    else if (old) old.remove();
  };
  if ('IntersectionObserver' in window) {
    let busy = false;
    new IntersectionObserver(async entries => {
      const m = more();
      if (!busy && m && entries.some(e => e.isIntersecting)) { busy = true; try { await load(m.href, true); } finally { busy = false; } }
    }).observe(more() || document.createElement('i'));
  }
  const nameOf = li => li.querySelector('a.name').textContent.replace(/\/$/, '');
  const keyOf = (li, sort) => sort === 'name' ? nameOf(li) : Number(sort === 'size' ? li.dataset.s : li.dataset.t);
  document.querySelectorAll('.heads a').forEach(a => a.addEventListener('click', ev => {
    if (more()) return;
    ev.preventDefault();
    const url = new URL(a.href), sort = url.searchParams.get('sort'), desc = url.searchParams.get('order') === 'desc';
    const items = [...rows().children];
    items.sort((x, y) => {
      if (x.classList.contains('dir') !== y.classList.contains('dir')) return x.classList.contains('dir') ? -1 : 1;
      const p = keyOf(x, sort), q = keyOf(y, sort);
      const c = sort === 'name' ? p.localeCompare(q, undefined, {sensitivity: 'base'}) : p - q;
      return desc ? -c : c;
    });
    rows().append(...items);
    document.querySelectorAll('.heads a').forEach(h => {
      h.removeAttribute('aria-current');
      const u = new URL(h.href);
      if (u.searchParams.get('sort') === sort) { h.setAttribute('aria-current', 'true'); u.searchParams.set('order', desc ? 'asc' : 'desc'); h.href = u.href; }
    });
    history.replaceState(null, '', url.href);
  }));
  const box = document.querySelector('.filter input[type=search]');
  let timer = 0;
  box.addEventListener('input', () => {
    const text = box.value.toLowerCase();
    if (more() || box.dataset.server) {
      clearTimeout(timer);
      timer = setTimeout(() => {
        const url = new URL(location.href);
        url.searchParams.set('q', box.value); url.searchParams.delete('offset'); url.searchParams.delete('page');
        box.dataset.server = '1';
        load(url.href, false);
        history.replaceState(null, '', url.href);
      }, 300);
      return;
    }
    for (const li of rows().children) li.hidden = !nameOf(li).toLowerCase().includes(text);
  });
  rows().addEventListener('click', async ev => {
    const copy = ev.target.closest('.copy');
    if (copy) {
      const url = copy.closest('li').querySelector('a.name').href;
      try { await navigator.clipboard.writeText(url); copy.textContent = body.dataset.copied; }
      catch { const f = document.createElement('input'); f.className = 'copied'; f.readOnly = true; f.value = url; copy.replaceWith(f); f.select(); }
      return;
    }
    const link = ev.target.closest('a.view');
    if (!link) return;
    ev.preventDefault();
    show([...rows().querySelectorAll('a.view')].indexOf(link));
  });
  const viewer = document.getElementById('viewer'), shown = viewer.querySelector('img');
  let at = 0;
  const show = i => {
    const all = [...rows().querySelectorAll('a.view')];
    if (!all.length) return;
    at = (i + all.length) % all.length;
    shown.src = all[at].href; viewer.hidden = false;
  };
  document.getElementById('prev').addEventListener('click', () => show(at - 1));
  document.getElementById('next').addEventListener('click', () => show(at + 1));
  document.getElementById('close').addEventListener('click', () => { viewer.hidden = true; shown.removeAttribute('src'); });
  document.addEventListener('keydown', ev => {
    if (viewer.hidden) return;
    if (ev.key === 'ArrowLeft') show(at - 1);
    if (ev.key === 'ArrowRight') show(at + 1);
    if (ev.key === 'Escape') document.getElementById('close').click();
  });
})();
)JS";

namespace {

std::string HashSource(std::string_view code) {
  const auto digest = Sha256(code);
  return "'sha256-" + TIdEncoderMIME::EncodeText(std::string(digest.begin(), digest.end())) + "'";
}

constexpr TBrowseTexts kEnglish{"en", "Up", "Name", "Date", "Size", "Filter", "Download", "Copy link", "Copied",
                                "More", "Grid", "List", "Previous", "Next", "Close", "bytes"};
constexpr TBrowseTexts kJapanese{"ja", "上へ", "名前", "日付", "サイズ", "絞り込み", "ダウンロード", "リンクをコピー",
                                 "コピーしました", "さらに表示", "グリッド", "リスト", "前へ", "次へ", "閉じる", "バイト"};

}  // namespace

const std::string& BrowseSecurityPolicy() {
  static const std::string policy = "default-src 'none'; script-src " + HashSource(kBrowseScript) +
                                    "; style-src " + HashSource(kBrowseStyle) +
                                    "; img-src 'self'; media-src 'self'; connect-src 'self'; form-action 'self'; "
                                    "base-uri 'none'; frame-ancestors 'none'";
  return policy;
}

const TBrowseTexts& BrowseTextsFor(std::string_view acceptLanguage) {
  const std::size_t start = acceptLanguage.find_first_not_of(" \t");
  if (start == std::string_view::npos) return kEnglish;
  const std::string_view first = acceptLanguage.substr(start, acceptLanguage.find_first_of(",;", start) - start);
  const bool japanese = (first.size() == 2 || (first.size() > 2 && first[2] == '-')) &&
                        (first[0] == 'j' || first[0] == 'J') && (first[1] == 'a' || first[1] == 'A');
  return japanese ? kJapanese : kEnglish;
}
