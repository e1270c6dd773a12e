// Holds Ostrilo's reading of a link as a browser sends it (browser_form, then the host as strict host
// matching finds it) against Node's WHATWG URL parser, for every link `<program> --readings DIR...`
// prints. Host, port, path after its dot segments, and query must agree. Only where Ostrilo unwraps
// nothing may they differ: a link Node cannot parse, or a host that Node maps by IDNA or reads as an
// IPv4 number (no rewriter's host is one of those).
// Usage: node browser_reading.js PROGRAM DIR...
'use strict';
const { execFileSync } = require('child_process');
const [program, ...dirs] = process.argv.slice(2);
const output = execFileSync(program, ['--readings', ...dirs], { maxBuffer: 1 << 30 }).toString();
// Either side written alike: every character that a browser escapes in some part of a link, escaped.
const escape = (c) => [...Buffer.from(c)].map((b) => '%' + b.toString(16).toUpperCase().padStart(2, '0')).join('');
const alike = (text) => text.replace(/[\0-\x20"'<>`{}|\\^\x7f-\u{10ffff}]/gu, escape);
// Node 20's parser leaves dot segments in some paths behind an empty segment ("https://a//.s/../c" keeps its
// "/.s/../"), which the URL standard never does; such a path is Node's mistake, not compared, and counted.
const dotted = (path) => path.split('/').some((segment) => /^(\.|%2e){1,2}$/i.test(segment));
let compared = 0, unjudged = 0;
const failures = [];
for (const line of output.split('\n').filter(Boolean)) {
  const ours = JSON.parse(line);
  let url = null;
  try {
    url = new URL(ours.link);
  } catch {}
  if (!url || !['http:', 'https:'].includes(url.protocol) || ours.host === null) {
    if (ours.unwrapped) failures.push(`${JSON.stringify(ours.link)}: unwrapped, but no http(s) link with a host for Node`);
    continue;
  }
  compared += 1;
  const port = ours.port.replace(/^0+(?=\d)/, '');
  const theirs = { host: url.hostname.replace(/\.$/, ''), port: url.port, path: url.pathname, query: url.search.slice(1) };
  const mine = { host: ours.host, port: port === (url.protocol === 'https:' ? '443' : '80') ? '' : port,
                 path: ours.path, query: ours.query };
  const idna = /[^\0-\x7f]/.test(ours.host) || /(^|\.)xn--/.test(theirs.host) || /^[\d.]+$/.test(theirs.host);
  unjudged += dotted(theirs.path);
  for (const part of ['host', 'port', 'path', 'query'])
    if (alike(mine[part]) !== alike(theirs[part]) && (part !== 'host' || !idna || ours.unwrapped) &&
        (part !== 'path' || !dotted(theirs.path)))
      failures.push(`${JSON.stringify(ours.link)}: ${part} ${JSON.stringify(mine[part])}, Node: ${JSON.stringify(theirs[part])}`);
}
console.log(`${compared} links compared with Node's URL, ${failures.length} read otherwise` +
            (unjudged ? `, ${unjudged} paths Node left with dot segments not compared` : ''));
for (const failure of failures.slice(0, 50)) console.log(failure);
process.exit(failures.length || compared === 0 ? 1 : 0);
