#!/usr/bin/env python3
"""An RFC 3161 time-stamping authority on a free port of 127.0.0.1 that openssl
ts answers with pki/tsa, for make-package --timestamp. Writes its port to
<work>/port and serves until it is ended: tsa_server.py <pki> <work>"""
import http.server, os, subprocess, sys

pki, work = sys.argv[1], sys.argv[2]
config = os.path.join(work, "tsa.cnf")
with open(config, "w") as f:
    f.write(f"[tsa]\ndefault_tsa = t\n[t]\nserial = {work}/tsa-serial\nsigner_cert = {pki}/tsa/tsa.crt\n"
            f"signer_key = {pki}/tsa/tsa.key\ncerts = {pki}/tsa/tsa.chain.pem\nsigner_digest = sha256\n"
            "default_policy = 1.3.6.1.4.1.99999.1\ndigests = sha256, sha1\ness_cert_id_alg = sha256\n")
with open(os.path.join(work, "tsa-serial"), "w") as f:
    f.write("01\n")


class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin"],
                               input=query, capture_output=True, timeout=30).stdout
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
with open(os.path.join(work, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(work, "port.tmp"), os.path.join(work, "port"))
server.serve_forever()
