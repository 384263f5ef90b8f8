"""A throwaway certificate authority for the HTTPS tests, made with openssl.

make_test_pki(folder) writes, under folder, a CA and server certificates of
several kinds, each as NAME.pem (certificate) and NAME.key (its key):

    trusted      issued by the CA for 127.0.0.1, valid now
    wrong-name   issued by the CA for another host name
    expired      issued by the CA for 127.0.0.1, valid only in the past
    unknown-ca   issued for 127.0.0.1 by a second CA that nobody trusts
    self-signed  its own issuer, for 127.0.0.1

and ca.der, the CA's certificate in DER form, for the side that trusts it.
The names for 127.0.0.1 are given as a DNS name (the form Wine's crypt32
matches) and as an IP address (the form Windows matches).
"""

import datetime
import os
import subprocess

LOOPBACK_NAMES = "DNS:127.0.0.1,IP:127.0.0.1"

CA_CONFIG = """\
[ca]
default_ca = test
[test]
dir = {dir}
database = {dir}/index.txt
serial = {dir}/serial
new_certs_dir = {dir}
default_md = sha256
policy = anything
copy_extensions = copy
unique_subject = no
[anything]
commonName = supplied
[ca_ext]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid
"""


# The trusted authority's key is RSA: Wine 8's crypt32 does not trust a root
# whose key is an EC one. Every other key is EC, which is quicker to make.
EC_KEY = ["ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"]


def openssl(*arguments):
    subprocess.run(["openssl"] + list(arguments), check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def stamp(days):
    moment = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=days)
    return moment.strftime("%Y%m%d%H%M%SZ")


def make_ca(folder, name, common_name, key_kind):
    state = os.path.join(folder, name + ".state")
    os.makedirs(state)
    open(os.path.join(state, "index.txt"), "w").close()
    with open(os.path.join(state, "serial"), "w") as serial:
        serial.write("1000\n")
    config = os.path.join(state, "ca.cnf")
    with open(config, "w") as out:
        out.write(CA_CONFIG.format(dir=state))
    key, pem = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    openssl("req", "-x509", "-newkey", *key_kind, "-nodes", "-keyout", key, "-out", pem,
            "-days", "30", "-subj", "/CN=" + common_name, "-config", config,
            "-extensions", "ca_ext")
    return config, key, pem


def issue(folder, ca, name, common_name, names, start_days, end_days):
    config, ca_key, ca_pem = ca
    key, pem = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    request = os.path.join(folder, name + ".csr")
    openssl("req", "-newkey", *EC_KEY, "-nodes", "-keyout", key, "-out", request,
            "-subj", "/CN=" + common_name, "-addext", "subjectAltName=" + names)
    openssl("ca", "-batch", "-config", config, "-extensions", "server_ext", "-cert", ca_pem,
            "-keyfile", ca_key, "-in", request, "-out", pem,
            "-startdate", stamp(start_days), "-enddate", stamp(end_days))


def make_test_pki(folder):
    ca = make_ca(folder, "ca", "Tessel Test CA", ["rsa:2048"])
    openssl("x509", "-in", ca[2], "-outform", "DER", "-out", os.path.join(folder, "ca.der"))
    issue(folder, ca, "trusted", "127.0.0.1", LOOPBACK_NAMES, -1, 10)
    issue(folder, ca, "wrong-name", "wrong.example", "DNS:wrong.example", -1, 10)
    issue(folder, ca, "expired", "127.0.0.1", LOOPBACK_NAMES, -10, -2)
    stranger = make_ca(folder, "stranger-ca", "Tessel Unknown CA", EC_KEY)
    issue(folder, stranger, "unknown-ca", "127.0.0.1", LOOPBACK_NAMES, -1, 10)
    openssl("req", "-x509", "-newkey", *EC_KEY, "-nodes",
            "-keyout", os.path.join(folder, "self-signed.key"),
            "-out", os.path.join(folder, "self-signed.pem"), "-days", "10",
            "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=" + LOOPBACK_NAMES)
