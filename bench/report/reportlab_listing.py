#!/usr/bin/env python3
"""Baseline for bench_Preview: writes the payroll listing of a Func.DB as a PDF with ReportLab,
on Letter paper with the same bands (title, column headings, 29 rows on page 1 and 31 on the
others, page footer with the print date and the page number).
Usage: reportlab_listing.py FUNC_DB OUT_PDF
"""
import datetime
import sqlite3
import sys

from reportlab.lib.pagesizes import letter
from reportlab.lib.units import mm
from reportlab.pdfgen import canvas


def money(value):
    text = f"{value:,.2f}".replace(",", "X").replace(".", ",").replace("X", ".")
    return "R$ " + text


def main(db, out):
    rows = sqlite3.connect(db).execute(
        "SELECT Nome, HorasNoMes, Sal_Hora FROM Func ORDER BY Matricula").fetchall()
    pdf = canvas.Canvas(out, pagesize=letter)
    width, height = letter
    today = datetime.date.today().strftime("%d/%m/%Y")
    left = 10 * mm
    page, y = 1, None

    def top(first):
        nonlocal y
        y = height - 10 * mm
        if first:
            pdf.setFont("Helvetica-Bold", 14)
            pdf.drawString(left + 63.17 * mm, y - 8 * mm, "Folha de Pagamento")
            y -= 10.6 * mm
        pdf.setFont("Helvetica-Bold", 10)
        for x, text in ((0, "NOME"), (90, "HORAS TRABALHADAS"), (130, "SALÁRIO HORA"),
                        (165, "SALÁRIO MENSAL")):
            pdf.drawString(left + x * mm, y - 4 * mm, text)
        y -= 6.3 * mm
        pdf.setFont("Helvetica", 10)

    def footer():
        pdf.setFont("Helvetica", 10)
        pdf.drawString(left, 15 * mm, "Impresso em " + today)
        pdf.drawRightString(left + 196.12 * mm, 15 * mm, f"Página {page}")

    top(True)
    capacity = 29
    on_page = 0
    for nome, horas, sal in rows:
        if on_page == capacity:
            footer()
            pdf.showPage()
            page += 1
            top(False)
            capacity, on_page = 31, 0
        horas = horas or 0
        sal = sal or 0.0
        pdf.drawString(left, y - 4 * mm, nome or "")
        pdf.drawRightString(left + 120 * mm, y - 4 * mm, str(horas))
        pdf.drawRightString(left + 155 * mm, y - 4 * mm, money(sal))
        pdf.drawRightString(left + 195 * mm, y - 4 * mm, money(sal * horas))
        y -= 7.9 * mm
        on_page += 1
    footer()
    pdf.showPage()
    pdf.save()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
