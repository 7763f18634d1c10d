#!/usr/bin/env python3
"""A small web server for the self-update test under Wine.

Serves the folder ROOT on 127.0.0.1 on a free port and, on the same port,
127.0.0.2 when it can (a loopback address the updater must refuse). Writes
"<port> <1 when 127.0.0.2 serves, else 0>" to PORTFILE once listening and
appends the path of every request to LOG. Runs until killed.
"""
import functools
import http.server
import os
import sys
import threading


def main():
    root, port_file, log = sys.argv[1:4]
    lock = threading.Lock()

    class Handler(http.server.SimpleHTTPRequestHandler):
        # One line per answered request (an error answer is logged twice
        # through log_message, so that stays quiet).
        def log_request(self, code="-", size="-"):
            with lock, open(log, "a", encoding="utf-8") as f:
                f.write("%s %s %s %s\n" % (self.server.server_address[0], self.command,
                                            self.path, code))

        def log_message(self, fmt, *args):
            pass

    handler = functools.partial(Handler, directory=root)
    first = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    port = first.server_address[1]
    servers = [first]
    try:
        servers.append(http.server.ThreadingHTTPServer(("127.0.0.2", port), handler))
    except OSError:
        pass
    for s in servers[1:]:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    with open(port_file + ".part", "w") as f:
        f.write("%d %d\n" % (port, len(servers) > 1))
    os.replace(port_file + ".part", port_file)
    first.serve_forever()


if __name__ == "__main__":
    main()
