#!/usr/bin/env python3
"""An OAuth2 identity provider for the tests, on loopback.

/authorize  approves at once: redirects to redirect_uri with a code (for the
            user named by login_hint) and the state; needs a PKCE S256 challenge.
/token      authorization_code (checks client, redirect and the PKCE verifier)
            and refresh_token grants.
/userinfo   the introspection endpoint Dovecot asks: 200 {"username", "active": true}
            for a good bearer token, 200 {"active": false} otherwise.
/control/*  for the tests: set (expires_in, tamper_state, corrupt_challenge,
            deny, allow, revoke), stats.
Writes its port to --port-file once it listens.
"""
import argparse
import base64
import hashlib
import json
import secrets
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlencode, urlparse

LOCK = threading.Lock()
STATE = {
    "codes": {}, "access": {}, "refresh": {},
    "expires_in": 3600, "tamper_state": False, "corrupt_challenge": False, "denied": set(),
    "stats": {"authorize": 0, "code_grants": 0, "refresh_grants": 0, "refused_grants": 0,
              "introspections": 0, "inactive": 0},
}


def token(prefix):
    # '/' and '+' as real providers' codes have them: they must survive form encoding.
    return prefix + "/" + secrets.token_urlsafe(18) + "+" + secrets.token_hex(4)


def challenge_of(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).decode("ascii").rstrip("=")


class Handler(BaseHTTPRequestHandler):
    def log_message(self, fmt, *args):
        sys.stderr.write("idp: " + (fmt % args) + "\n")

    def answer(self, status, body, headers=None):
        data = json.dumps(body).encode() if not isinstance(body, bytes) else body
        self.send_response(status)
        for key, value in (headers or {}).items():
            self.send_header(key, value)
        if data:
            self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urlparse(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        if url.path == "/authorize":
            return self.authorize(query)
        if url.path == "/userinfo":
            return self.userinfo()
        if url.path == "/control/stats":
            with LOCK:
                return self.answer(200, STATE["stats"])
        return self.answer(404, {"error": "not_found"})

    def do_POST(self):
        url = urlparse(self.path)
        length = int(self.headers.get("Content-Length", "0"))
        form = {k: v[0] for k, v in parse_qs(self.rfile.read(length).decode()).items()}
        if url.path == "/token":
            return self.token(form)
        if url.path == "/control/set":
            return self.control({k: v[0] for k, v in parse_qs(url.query).items()})
        return self.answer(404, {"error": "not_found"})

    def authorize(self, q):
        if q.get("response_type") != "code" or not q.get("client_id") or not q.get("redirect_uri"):
            return self.answer(400, {"error": "invalid_request"})
        if q.get("code_challenge_method") != "S256" or not q.get("code_challenge"):
            return self.answer(400, {"error": "invalid_request", "error_description": "PKCE S256 required"})
        with LOCK:
            STATE["stats"]["authorize"] += 1
            code = token("code")
            challenge = q["code_challenge"]
            if STATE["corrupt_challenge"]:
                STATE["corrupt_challenge"] = False
                challenge = challenge_of("not-the-verifier")
            STATE["codes"][code] = {"client_id": q["client_id"], "redirect_uri": q["redirect_uri"],
                                    "challenge": challenge, "user": q.get("login_hint", "user")}
            state = q.get("state", "")
            if STATE["tamper_state"]:
                STATE["tamper_state"] = False
                state = "forged" + state
        target = q["redirect_uri"] + ("&" if "?" in q["redirect_uri"] else "?") + urlencode(
            {"code": code, "state": state})
        self.answer(302, b"", {"Location": target})

    def issue(self, user, client_id, refresh=None):
        access = token("at")
        STATE["access"][access] = {"user": user, "expires": time.time() + STATE["expires_in"]}
        if refresh is None:
            refresh = token("rt")
            STATE["refresh"][refresh] = {"user": user, "client_id": client_id, "revoked": False}
        return {"access_token": access, "refresh_token": refresh, "token_type": "Bearer",
                "expires_in": STATE["expires_in"]}

    def refuse(self, description):
        STATE["stats"]["refused_grants"] += 1
        return self.answer(400, {"error": "invalid_grant", "error_description": description})

    def token(self, f):
        with LOCK:
            if f.get("grant_type") == "authorization_code":
                entry = STATE["codes"].pop(f.get("code", ""), None)
                if not entry:
                    return self.refuse("Unknown or used authorization code.")
                if entry["client_id"] != f.get("client_id") or entry["redirect_uri"] != f.get("redirect_uri"):
                    return self.refuse("Client or redirect does not match the authorization.")
                if challenge_of(f.get("code_verifier", "")) != entry["challenge"]:
                    return self.refuse("PKCE verification failed.")
                STATE["stats"]["code_grants"] += 1
                return self.answer(200, self.issue(entry["user"], entry["client_id"]))
            if f.get("grant_type") == "refresh_token":
                entry = STATE["refresh"].get(f.get("refresh_token", ""))
                if not entry or entry["revoked"] or entry["client_id"] != f.get("client_id"):
                    return self.refuse("The refresh token was revoked.")
                STATE["stats"]["refresh_grants"] += 1
                return self.answer(200, self.issue(entry["user"], entry["client_id"], f["refresh_token"]))
        return self.answer(400, {"error": "unsupported_grant_type"})

    def userinfo(self):
        header = self.headers.get("Authorization", "")
        bearer = header[7:] if header.lower().startswith("bearer ") else ""
        with LOCK:
            STATE["stats"]["introspections"] += 1
            entry = STATE["access"].get(bearer)
            if not entry or entry["expires"] < time.time() or entry["user"] in STATE["denied"]:
                STATE["stats"]["inactive"] += 1
                return self.answer(200, {"active": False})
            return self.answer(200, {"username": entry["user"], "active": True})

    def control(self, q):
        with LOCK:
            if "expires_in" in q:
                STATE["expires_in"] = int(q["expires_in"])
            if "tamper_state" in q:
                STATE["tamper_state"] = True
            if "corrupt_challenge" in q:
                STATE["corrupt_challenge"] = True
            if "deny" in q:
                STATE["denied"].add(q["deny"])
            if "allow" in q:
                STATE["denied"].discard(q["allow"])
            if "revoke" in q:
                for entry in STATE["refresh"].values():
                    if entry["user"] == q["revoke"]:
                        entry["revoked"] = True
                for entry in STATE["access"].values():
                    if entry["user"] == q["revoke"]:
                        entry["expires"] = 0
        return self.answer(200, {"ok": True})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(args.port_file + ".tmp", "w") as out:
        out.write(str(server.server_address[1]))
    import os
    os.replace(args.port_file + ".tmp", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
