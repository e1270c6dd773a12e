#!/usr/bin/env python3
"""The loopback server of the whitelist_url tests (central_list_test.cpp starts it under Wine and stops it).

Usage: list_server.py FOLDER. Serves FOLDER/<name> on 127.0.0.1 at a free port, which it writes to FOLDER/port.txt;
appends "<path> <If-None-Match>" of each request to FOLDER/requests.txt; ends when FOLDER/quit appears or after ten
idle minutes. A file's ETag is its checksum, and a matching If-None-Match gets 304. A file whose first line is a
directive is answered as it says: "#!status N" (HTTP N), "#!silent" (no answer), "#!short" (half the promised
Content-Length, then the end), "#!huge" and "#!huge-length" (32 MiB + 1 bytes, without and with Content-Length),
"#!redirect URL" (302 to URL).
"""
import hashlib, http.server, os, sys, threading, time

folder = sys.argv[1]
# Wine hands its standard handles on; the test run must not wait for this server to close them.
for handle in range(3):
    os.dup2(os.open(os.devnull, os.O_RDWR), handle)
last_request = time.time()
lock = threading.Lock()
huge = 32 * 1024 * 1024 + 1


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        global last_request
        last_request = time.time()
        with lock, open(os.path.join(folder, "requests.txt"), "a") as log:
            log.write("%s %s\n" % (self.path, self.headers.get("If-None-Match", "-")))
        try:
            with open(os.path.join(folder, self.path.lstrip("/")), "rb") as file:
                body = file.read()
        except OSError:
            return self.answer(404)
        directive = body.split(b"\n", 1)[0].decode().split(" ", 1) if body.startswith(b"#!") else ["", ""]
        if directive[0] == "#!status":
            return self.answer(int(directive[1]))
        if directive[0] == "#!silent":
            return time.sleep(120)
        if directive[0] == "#!redirect":
            return self.answer(302, headers=[("Location", directive[1].strip())])
        if directive[0] in ("#!huge", "#!huge-length", "#!short"):
            # More bytes than a list may have (with their length or until the end), or half those promised.
            length = str(huge if directive[0] != "#!short" else 2 * len(body))
            if directive[0] != "#!short":
                body = (b"x.example/*|local|firefox\n" * (huge // 26 + 1))[:huge]
            self.send_response(200)
            self.send_header(*(("Connection", "close") if directive[0] == "#!huge" else ("Content-Length", length)))
            self.end_headers()
            self.close_connection = True
            return self.wfile.write(body)
        etag = '"%s"' % hashlib.sha256(body).hexdigest()[:16]
        if self.headers.get("If-None-Match") == etag:
            return self.answer(304, headers=[("ETag", etag)])
        self.answer(200, body, [("ETag", etag), ("Content-Type", "text/plain")])


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
server.handle_error = lambda request, address: None  # a client that went away
with open(os.path.join(folder, "port.txt.tmp"), "w") as port:
    port.write(str(server.server_address[1]))
os.replace(os.path.join(folder, "port.txt.tmp"), os.path.join(folder, "port.txt"))
threading.Thread(target=server.serve_forever, daemon=True).start()
while not os.path.exists(os.path.join(folder, "quit")) and time.time() - last_request < 600:
    time.sleep(0.2)
server.shutdown()
