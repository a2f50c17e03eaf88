"""Local servers for the URL loading tests: HTTP, HTTPS, FTP and an HTTP proxy,
all on 127.0.0.1 at ports the system picks.

usage: url_server.py FOLDER PORTFILE
FOLDER holds cert.pem and key.pem; the pictures are made here, with Pillow.
When every server listens, PORTFILE gets "http https ftp proxy". Requests are
logged to FOLDER/requests.log as "server path authorization proxy-authorization".
"""
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.request

from PIL import Image

folder, portfile = sys.argv[1], sys.argv[2]
USER, PASSWORD = "al", "s3cr:et"

im = Image.new("RGB", (40, 30))
im.putdata([((x * 6) % 256, (y * 8) % 256, (x * y) % 256) for y in range(30) for x in range(40)])
im.save(os.path.join(folder, "pic.png"))
im.save(os.path.join(folder, "pic.jpg"), quality=90)
PNG = open(os.path.join(folder, "pic.png"), "rb").read()
JPG = open(os.path.join(folder, "pic.jpg"), "rb").read()
HTML = b"<html><body>not a picture</body></html>"
log_lock = threading.Lock()


def log(server, path, auth, proxy_auth):
    with log_lock, open(os.path.join(folder, "requests.log"), "a") as f:
        f.write("%s %s %s %s\n" % (server, path, auth or "-", proxy_auth or "-"))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_name = "http"

    def log_message(self, *args):
        pass

    def send_body(self, body, ctype="image/png", length=True, status=200):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, where):
        self.send_response(302)
        self.send_header("Location", where)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        log(self.server_name, self.path, self.headers.get("Authorization"), self.headers.get("Proxy-Authorization"))
        p = self.path
        if p in ("/pic.png", "/pic.png?viaproxy"):
            self.send_body(PNG)
        elif p == "/pic.png?nolength":
            self.send_body(PNG, length=False)
        elif p == "/pic.jpg":
            self.send_body(JPG, "image/jpeg")
        elif p == "/pic.jpg?nolength":
            self.send_body(JPG, "image/jpeg", length=False)
        elif p == "/auth/pic.png":
            import base64
            want = "Basic " + base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
            if self.headers.get("Authorization") != want:
                self.send_body(b"who are you", "text/plain", status=401)
            else:
                self.send_body(PNG)
        elif p == "/redirect":
            self.redirect("/pic.png")
        elif p.startswith("/chain/"):
            n = int(p[7:])
            self.redirect("/pic.png" if n == 0 else "/chain/%d" % (n - 1))
        elif p == "/tofile":
            self.redirect("file:///etc/hostname")
        elif p == "/slow.png":
            # 1 KB a second, with its length.
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(len(PNG)))
            self.end_headers()
            for i in range(0, len(PNG), 256):
                self.wfile.write(PNG[i:i + 256])
                self.wfile.flush()
                time.sleep(0.25)
        elif p == "/cut.png":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(len(PNG)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(PNG[:len(PNG) // 2])
            self.close_connection = True
        elif p == "/404":
            self.send_body(PNG, status=404)
        elif p == "/500":
            self.send_body(PNG, status=500)
        elif p == "/pnghtml":
            self.send_body(PNG, "text/html")
        elif p == "/htmlpng":
            self.send_body(HTML, "image/png")
        elif p == "/big":
            self.send_body(PNG + bytes(3000))
        elif p == "/bignolength":
            self.send_body(PNG + bytes(3000), length=False)
        elif p == "/endless":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(1 << 20))
            self.end_headers()
            try:
                for _ in range(200):
                    self.wfile.write(bytes(100))
                    self.wfile.flush()
                    time.sleep(0.05)
            except OSError:
                pass
        else:
            self.send_body(b"no such thing", "text/plain", status=404)


class HttpsHandler(Handler):
    server_name = "https"


class ProxyHandler(Handler):
    server_name = "proxy"

    def do_GET(self):
        log("proxy", self.path, self.headers.get("Authorization"), self.headers.get("Proxy-Authorization"))
        headers = {k: v for k, v in self.headers.items()
                   if k.lower() not in ("proxy-authorization", "proxy-connection", "host", "connection")}
        req = urllib.request.Request(self.path, headers=headers)
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        try:
            with opener.open(req) as r:
                body = r.read()
                self.send_body(body, r.headers.get("Content-Type", "application/octet-stream"), status=r.status)
        except urllib.error.HTTPError as e:
            self.send_body(e.read(), status=e.code)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()


http_server = Server(("127.0.0.1", 0), Handler)
https_server = Server(("127.0.0.1", 0), HttpsHandler)
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
https_server.socket = ctx.wrap_socket(https_server.socket, server_side=True)
proxy_server = Server(("127.0.0.1", 0), ProxyHandler)

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import ThreadedFTPServer
import logging
logging.getLogger("pyftpdlib").setLevel(logging.ERROR)

ftp_root = os.path.join(folder, "ftp")
os.makedirs(ftp_root, exist_ok=True)
open(os.path.join(ftp_root, "pic.png"), "wb").write(PNG)
auth = DummyAuthorizer()
auth.add_user(USER, PASSWORD, ftp_root, perm="elr")
auth.add_anonymous(ftp_root)
FTPHandler.authorizer = auth
ftp_server = ThreadedFTPServer(("127.0.0.1", 0), FTPHandler)

for s in (http_server, https_server, proxy_server):
    serve(s)
threading.Thread(target=ftp_server.serve_forever, kwargs={"handle_exit": False}, daemon=True).start()

ports = "%d %d %d %d" % (http_server.server_address[1], https_server.server_address[1],
                         ftp_server.address[1], proxy_server.server_address[1])
with open(portfile + ".tmp", "w") as f:
    f.write(ports)
os.rename(portfile + ".tmp", portfile)
while True:
    time.sleep(3600)
