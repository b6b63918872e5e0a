#!/usr/bin/env python3
"""Makes the XML workloads that bench/run.py times, the same bytes on every run.

    bench/gen.py OUTDIR [--scale S] [--only w1,w2,w3]

Writes into OUTDIR:
  flat.xml            W1: customer records in one flat export, 100 MB at scale 1
  many/part_NNNN.xml  W2: 2,000 such exports of about 20 KB each (the count scales)
  nested.xml          W3: orders with 1 to 8 lines each, 50 MB at scale 1
  manifest.json       per workload: files, bytes, records, values and grid cells

Each workload draws from a random generator of its own with a fixed seed, so a
smaller scale makes a prefix (in records) of a larger one. A run with --only
keeps the manifest's entries of the workloads it leaves alone. The workloads are
fixed: figures taken on different days compare only while these bytes stay the
same, and tests/bench/gen_test.py checks them. Standard library only.
"""
import argparse
import json
import math
import os
import random
import re
import sys
from xml.sax.saxutils import escape

SEED = 20240601
FLAT_BYTES = 100_000_000        # W1 at scale 1
MANY_FILES = 2_000              # W2 at scale 1
MANY_FILE_BYTES = 20_000        # each W2 file, at every scale
NESTED_BYTES = 50_000_000       # W3 at scale 1

# The words the records are made of: accents, other scripts and the characters
# XML must escape, as real exports have them. Every draw picks from these lists
# by position, so their order is part of the workloads.
GIVEN_NAMES = ("Anna", "José", "Zoë", "Łukasz", "Søren", "Björn", "Chloé", "Oğuz",
               "Ирина", "Aoife", "Jean-Luc", "Mårten", "Noémie", "Jürgen", "Ana",
               "Tomás", "Ingrid", "Dmitri", "Fatima", "Hiroshi", "Liam", "Olivia",
               "Noah", "Emma", "Mateo", "Sofía", "Lukas", "Mia", "Elif", "Kenji")
FAMILY_NAMES = ("Müller", "O'Brien", "García", "Nowak", "Jensen", "Dubois", "Rossi",
                "Smith", "Ødegård", "Kowalski", "Šimek", "Yılmaz", "Novák", "Brown",
                "Schröder", "Fernández", "Larsen", "Moreau", "Bianchi", "Wilson",
                "Hernández", "Nakamura", "Petrov", "Kim", "Nguyễn", "Côté")
COMPANY_FORMS = ("& Sons", "GmbH & Co. KG", "AG", "S.A.", "Ltd", "& Partners",
                 "B.V.", "Sp. z o.o.", "Inc.", "S.à r.l.")
CITIES = ("München", "Zürich", "São Paulo", "Kraków", "Malmö", "Reykjavík",
          "Besançon", "Århus", "İstanbul", "Łódź", "New York", "Dublin",
          "東京", "Αθήνα", "Montréal", "Köln", "Genève", "Bogotá", "Praha",
          "Wrocław", "Lisboa", "Sevilla", "Göteborg", "Kyiv", "Düsseldorf")
NOTE_WORDS = ("call", "before", "delivery", "invoice", "paid", "late", "VIP", "&",
              "<urgent>", "über", "café", "€", "net", "30", "days", "ship", "to",
              "warehouse", "B", "\"fragile\"", "résumé", "naïve", "ok", "hold",
              "credit", "check", "→", "a&b", "x<y", "déjà", "vu", "Straße")
# W2's element names change every ten files.
MANY_ELEMENTS = ("Customer", "Supplier", "Contact", "Vendor", "Client", "Member",
                 "Patient", "Student", "Employee", "Dealer")
FILES_PER_ELEMENT = 10
CURRENCIES = ("EUR",) * 7 + ("USD", "GBP", "CHF")
CUSTOMER_FIELDS = ("ID", "Name", "Company", "Email", "City", "Balance",
                   "CreditLimit", "Joined", "LastOrder", "Notes")
# The share of fields an export leaves out, as Access leaves out a NULL field.
MISSING_SHARE = 0.03
ORDER_COLUMNS = 3               # order: id, date, customer
LINE_COLUMNS = 4                # line: sku, qty, price, price's currency

PROLOGUE = '<?xml version="1.0" encoding="UTF-8"?>\n'
EXPORT_OPEN = (PROLOGUE + '<dataroot xmlns:od="urn:schemas-microsoft-com:officedata" '
               'generated="2024-06-01T12:00:00">\n').encode()
EXPORT_CLOSE = b"</dataroot>\n"
ORDERS_OPEN = (PROLOGUE + "<orders>\n").encode()
ORDERS_CLOSE = b"</orders>\n"
WORKLOADS = ("w1", "w2", "w3")


def mailbox_part(name):
    """The ASCII letters of a name in lower case, for an e-mail address; "x" if none."""
    return "".join(c for c in name.lower() if "a" <= c <= "z") or "x"


def customer(rng, number):
    """One customer's fields as (name, text) in export order; ID is always there,
    a field is left out at random or when it has no text (notes of no words)."""
    given, family = rng.choice(GIVEN_NAMES), rng.choice(FAMILY_NAMES)
    joined = (rng.randint(1995, 2024), rng.randint(1, 12), rng.randint(1, 28))
    last_order_year = rng.randint(2015, 2024)
    note_words = rng.randint(0, 12)
    company = f"{rng.choice(FAMILY_NAMES)} {rng.choice(COMPANY_FORMS)}"
    city = rng.choice(CITIES)
    balance = rng.uniform(-5000, 250000)
    credit_limit = rng.randrange(0, 100000, 500)
    month, day = rng.randint(1, 12), rng.randint(1, 28)
    hour, minute = rng.randint(0, 23), rng.randint(0, 59)
    notes = " ".join(rng.choice(NOTE_WORDS) for _ in range(note_words))

    texts = (
        str(number),
        f"{given} {family}",
        company,
        f"{mailbox_part(given)}.{mailbox_part(family)}{number}@example.com",
        city,
        f"{balance:.2f}",
        str(credit_limit),
        "{:04d}-{:02d}-{:02d}".format(*joined),
        f"{last_order_year:04d}-{month:02d}-{day:02d}T{hour:02d}:{minute:02d}:00",
        notes,
    )
    fields = [(CUSTOMER_FIELDS[0], texts[0])]
    for name, text in zip(CUSTOMER_FIELDS[1:], texts[1:]):
        # The draw comes first: every optional field takes one, empty or not.
        if rng.random() >= MISSING_SHARE and text:
            fields.append((name, text))
    return fields


def customer_xml(element, fields):
    lines = [f"<{element}>\n"]
    lines += (f"<{name}>{escape(text)}</{name}>\n" for name, text in fields)
    lines.append(f"</{element}>\n")
    return "".join(lines).encode()


def order_xml(rng, order_id):
    """One order and the number of its lines."""
    date = f"{rng.randint(2018, 2024):04d}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
    buyer = f"{rng.choice(FAMILY_NAMES)} {rng.choice(COMPANY_FORMS)}"
    parts = [f'<order id="{order_id}" date="{date}">\n',
             f"<customer>{escape(buyer)}</customer>\n"]
    line_count = rng.randint(1, 8)
    for _ in range(line_count):
        sku = rng.randint(0, 999999)
        quantity = rng.randint(1, 50)
        price = rng.uniform(0.5, 2000)
        currency = rng.choice(CURRENCIES)
        parts.append(f'<line sku="SKU-{sku:06d}"><qty>{quantity}</qty>'
                     f'<price currency="{currency}">{price:.2f}</price></line>\n')
    parts.append("</order>\n")
    return "".join(parts).encode(), line_count


def write_file(path, opening, closing, limit, next_record):
    """Writes opening, then records from next_record() for as long as the file with
    closing added stays under limit bytes, then closing; returns the file's size.
    A record is made only once it is sure to be written, so the random draws a
    file takes depend on its limit alone."""
    size = len(opening) + len(closing)
    with open(path, "wb") as out:
        out.write(opening)
        batch = []
        while size < limit:
            record = next_record()
            batch.append(record)
            size += len(record)
            if len(batch) == 1000:
                out.write(b"".join(batch))
                batch.clear()
        batch.append(closing)
        out.write(b"".join(batch))
    return size


class Customers:
    """Customer records numbered from 1 on, across all the files they fill."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.records = 0
        self.values = 0

    def write(self, path, element, limit):
        def next_record():
            fields = customer(self.rng, self.records + 1)
            self.records += 1
            self.values += len(fields)
            return customer_xml(element, fields)
        return write_file(path, EXPORT_OPEN, EXPORT_CLOSE, limit, next_record)

    def counts(self):
        return {"records": self.records, "values": self.values,
                "columns": len(CUSTOMER_FIELDS),
                "grid_cells": self.records * len(CUSTOMER_FIELDS)}


def make_flat(outdir, scale):
    """W1: one export of customers."""
    customers = Customers(SEED + 1)
    size = customers.write(os.path.join(outdir, "flat.xml"), "Customer",
                           int(FLAT_BYTES * scale))
    return {"files": 1, "bytes": size, **customers.counts()}


def make_many(outdir, scale):
    """W2: many small exports, ten of each element name in turn."""
    folder = os.path.join(outdir, "many")
    os.makedirs(folder, exist_ok=True)
    # round() halves to even; at least one file at any scale.
    file_count = max(1, round(MANY_FILES * scale))
    customers = Customers(SEED + 2)
    size = 0
    for i in range(file_count):
        element = MANY_ELEMENTS[i // FILES_PER_ELEMENT % len(MANY_ELEMENTS)]
        size += customers.write(os.path.join(folder, f"part_{i:04d}.xml"), element,
                                MANY_FILE_BYTES)
    remove_stale_parts(folder, file_count)
    element_types = min(len(MANY_ELEMENTS), -(-file_count // FILES_PER_ELEMENT))
    return {"files": file_count, "bytes": size, "element_types": element_types,
            **customers.counts()}


def remove_stale_parts(folder, file_count):
    """Removes the parts a run at a larger scale left in the folder: W2 is the whole
    folder, and the manifest counts only this run's files."""
    for name in os.listdir(folder):
        match = re.fullmatch(r"part_(\d{4,})\.xml", name)
        if match and int(match.group(1)) >= file_count:
            os.remove(os.path.join(folder, name))


def make_nested(outdir, scale):
    """W3: orders, each with its lines nested inside."""
    rng = random.Random(SEED + 3)
    orders = lines = 0

    def next_record():
        nonlocal orders, lines
        record, line_count = order_xml(rng, 100001 + orders)
        orders += 1
        lines += line_count
        return record

    size = write_file(os.path.join(outdir, "nested.xml"), ORDERS_OPEN, ORDERS_CLOSE,
                      int(NESTED_BYTES * scale), next_record)
    return {"files": 1, "bytes": size, "orders": orders, "lines": lines,
            "order_columns": ORDER_COLUMNS, "line_columns": LINE_COLUMNS,
            "grid_cells": orders * ORDER_COLUMNS + lines * LINE_COLUMNS}


MAKERS = {"w1": make_flat, "w2": make_many, "w3": make_nested}


def read_manifest(path):
    """The manifest an earlier run left, or an empty one."""
    if not os.path.exists(path):
        return {}
    try:
        with open(path, encoding="utf-8") as fh:
            manifest = json.load(fh)
    except (OSError, ValueError) as e:
        sys.exit(f"gen.py: {path}: cannot read the manifest ({e}); remove it or choose "
                 "another folder")
    if not isinstance(manifest, dict):
        sys.exit(f"gen.py: {path}: the manifest is not a JSON object; remove it or "
                 "choose another folder")
    return manifest


def parse_args(argv):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--scale", type=float, default=1.0,
                    help="size factor (W1/W3 bytes, W2 file count); default 1")
    ap.add_argument("--only", default=",".join(WORKLOADS),
                    help="comma list of workloads to write (default all)")
    args = ap.parse_args(argv)
    if not (math.isfinite(args.scale) and args.scale > 0):
        ap.error(f"--scale must be a positive number; got {args.scale}")
    if not set(args.only.split(",")) <= MAKERS.keys():
        ap.error(f"--only takes w1, w2, w3; got {args.only}")
    args.only = set(args.only.split(","))
    return args


def main(argv=None):
    args = parse_args(argv)
    os.makedirs(args.outdir, exist_ok=True)
    manifest_path = os.path.join(args.outdir, "manifest.json")
    manifest = read_manifest(manifest_path)
    for workload in sorted(args.only):
        manifest[workload] = {**MAKERS[workload](args.outdir, args.scale), "scale": args.scale}
    with open(manifest_path, "w", encoding="utf-8") as fh:
        fh.write(json.dumps(manifest, indent=1, sort_keys=True) + "\n")
    print(json.dumps(manifest, sort_keys=True))


if __name__ == "__main__":
    main()
