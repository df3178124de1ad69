"""Write examples/sample.hwp: a short Korean document built with the project's fixture builder.

Usage: python3 examples/make_sample.py [OUTPUT]   (default: examples/sample.hwp beside this file)

The output is deterministic: the builder writes no timestamps and uses no randomness, so
running this again reproduces the committed file byte for byte.
"""

import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

import hwpbuilder as hb  # noqa: E402


def sample_section() -> bytes:
    nested = hb.table([["가", "나"], ["다", "라"]])
    # A form's table: merged header cells, and a nested table in a cell.
    results = hb.table([
        [hb.cell("구분", 0, 0, row_span=2, header=True),
         hb.cell("실적", 0, 1, col_span=2, header=True)],
        [hb.cell("1분기", 1, 1, header=True), hb.cell("2분기", 1, 2, header=True)],
        ["매출", "120", "135"],
        ["비고", "전년 대비 증가", ["세부 내역", nested]],
    ], cols=3, caption="표 1. 분기별 실적", caption_side="TOP")
    return hb.section(
        hb.paragraph("분기 업무 보고서"),
        hb.paragraph("작성자: ", hb.field_text("홍길동"), " (담당 부서: 기획팀)",
                     controls=[hb.click_here("작성자", "이름을 입력하세요", modified=True)]),
        hb.paragraph("아래 표는 분기별 실적을 요약한 것입니다.", controls=[results]),
        hb.paragraph("성장률은 다음 식으로 계산합니다."),
        hb.paragraph(controls=[hb.equation("r = {b - a} over a times 100")]),
        hb.paragraph(controls=[hb.picture("그림 1. 분기별 매출 추이")]),
        hb.paragraph("끝."),
    )


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else HERE / "sample.hwp"
    hb.write_document(out, [sample_section()])


if __name__ == "__main__":
    main()
