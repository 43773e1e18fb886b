#!/usr/bin/python3
"""A small HTTP server on 127.0.0.1 for the fetch tests; it also acts as the
proxy for map-service addresses (a proxied request names the full address).

Prints "PORT" on its first line, then serves until killed or for at most
120 seconds. The query parameter doc= chooses the reply:
  two        a document with two points
  self       a document with one point that links to itself and to doc=two
  size-N     a well-formed document of exactly N bytes (N >= 200)
  missing    404
  broken     a document that is not well-formed
  stall      the headers and part of a body, then nothing for 10 s
  reset      the headers and part of a body, then the connection is reset
  endless    a body that never ends, as fast as the client reads it
  drip       the headers, then one byte every 0.3 s for ever
  redirect   302 to doc=two
  loop       302 to itself
  tofile     302 to a file: address
  toftp      302 to an ftp: address
  longheader a reply whose one header line is 200 KB long
  endlessheader  header lines without end, as fast as the client reads them
  slowheader header lines without end, one every 0.3 s
  ua         a document whose one placemark is named after the User-Agent
Every request is also written to standard error as "GET <address> <agent>".
"""
import io
import os
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

MARKER = "http://maps.google.com/maps/ms?"


def kml(placemarks, links=()):
    body = ['<?xml version="1.0" encoding="UTF-8"?>',
            '<kml xmlns="http://www.opengis.net/kml/2.2"><Document>']
    for name, lon, lat in placemarks:
        body.append("<Placemark><name>%s</name><Point><coordinates>%s,%s,0</coordinates></Point></Placemark>"
                    % (name, lon, lat))
    for href in links:
        body.append("<NetworkLink><Link><href>%s</href></Link></NetworkLink>" % href.replace("&", "&amp;"))
    body.append("</Document></kml>")
    return "\n".join(body).encode()


def sized(n):
    base = kml([("Sized", 5, 6)])
    pad = n - len(base) - len("<!---->")
    return base[:-6] + b"<!--" + b"x" * pad + b"-->" + base[-6:]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        sys.stderr.write("GET %s %s\n" % (self.path, self.headers.get("User-Agent")))
        sys.stderr.flush()
        doc = parse_qs(urlsplit(self.path).query).get("doc", [""])[0]
        if doc == "two":
            self.reply(200, kml([("Fetched A", 10, 20), ("Fetched B", 11, 21)]))
        elif doc == "self":
            self.reply(200, kml([("Self", 1, 1)], [MARKER + "doc=self", MARKER + "doc=two"]))
        elif doc.startswith("size-"):
            self.reply(200, sized(int(doc[5:])))
        elif doc == "missing":
            self.reply(404, b"<html>not here</html>")
        elif doc == "broken":
            self.reply(200, b"<kml><Document><Placemark></Document></kml>")
        elif doc == "stall":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"<kml>")
            self.wfile.flush()
            time.sleep(10)
        elif doc == "reset":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(kml([("Cut", 1, 2)])[:150])
            self.wfile.flush()
            # A zero linger time makes close() send a reset, not an orderly end;
            # the descriptor is closed at once, whatever else refers to it.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            os.close(self.connection.detach())
            self.wfile, self.rfile = io.BytesIO(), io.BytesIO()
            self.close_connection = True
        elif doc == "endless":
            self.send_response(200)
            self.end_headers()
            self.close_connection = True
            chunk = b"<!--" + b"x" * 65536 + b"-->"
            try:
                self.wfile.write(b"<kml>")
                while True:
                    self.wfile.write(chunk)
            except OSError:
                pass
        elif doc == "drip":
            self.send_response(200)
            self.end_headers()
            self.close_connection = True
            try:
                self.wfile.write(b"<kml>")
                self.wfile.flush()
                while True:
                    time.sleep(0.3)
                    self.wfile.write(b" ")
                    self.wfile.flush()
            except OSError:
                pass
        elif doc == "redirect":
            self.reply(302, b"", [("Location", MARKER + "doc=two")])
        elif doc in ("loop", "tofile", "toftp"):
            target = {"loop": MARKER + "doc=loop", "tofile": "file:///etc/passwd",
                      "toftp": "ftp://127.0.0.1:1/doc.kml"}[doc]
            self.reply(302, b"", [("Location", target)])
        elif doc == "longheader":
            self.reply(200, kml([("Long", 1, 1)]), [("X-Long", "x" * 200000)])
        elif doc in ("endlessheader", "slowheader"):
            self.send_response(200)
            self.flush_headers()  # the status line; the blank line never comes
            self.close_connection = True
            try:
                for i in range(100000000):
                    self.wfile.write(b"X-More-%d: yes\r\n" % i)
                    if doc == "slowheader":
                        self.wfile.flush()
                        time.sleep(0.3)
            except OSError:
                pass
        elif doc == "ua":
            self.reply(200, kml([(self.headers.get("User-Agent"), 0, 0)]))
        else:
            self.reply(200, kml([]))


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    threading.Timer(120, lambda: os._exit(0)).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
