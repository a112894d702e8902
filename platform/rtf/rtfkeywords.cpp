// The RTF reader's control words: the Kw of every name the reader knows. Names that mean the
// same to the reader (\li and \lin, the underline kinds, the destinations whose text is no
// part of the document) share one Kw; a name not here is Kw::Unknown, which the reader passes
// over. Looking a name up costs no allocation and no more than a few comparisons.

#include "rtfparser_p.h"

#include <array>
#include <initializer_list>

namespace Rtf::detail {

const KeywordTable &keywords()
{
    static const KeywordTable table = [] {
        KeywordTable t;
        auto add = [&t](std::initializer_list<std::string_view> names, Kw kw) {
            for (auto name : names)
                t.add(name, kw);
        };
        add({"ansi"}, Kw::Ansi);
        add({"mac"}, Kw::Mac);
        add({"pc"}, Kw::Pc);
        add({"pca"}, Kw::Pca);
        add({"ansicpg"}, Kw::AnsiCpg);
        add({"deff"}, Kw::Deff);
        add({"fonttbl"}, Kw::FontTable);
        add({"colortbl"}, Kw::ColorTable);
        add({"field"}, Kw::Field);
        add({"fldinst"}, Kw::FldInst);
        add({"fldrslt"}, Kw::FldRslt);
        add({"pict"}, Kw::Pict);
        add({"shppict"}, Kw::ShpPict);
        add({"nonshppict"}, Kw::NonShpPict);
        add({"shp"}, Kw::Shp);
        add({"shpgrp"}, Kw::ShpGrp);
        add({"shpinst"}, Kw::ShpInst);
        add({"shptxt"}, Kw::ShpTxt);
        add({"shprslt"}, Kw::ShpRslt);
        add({"sp"}, Kw::Sp);
        add({"sn"}, Kw::Sn);
        add({"sv"}, Kw::Sv);
        add({"upr"}, Kw::Upr);
        add({"ud"}, Kw::Ud);
        add({"listtext"}, Kw::ListText);
        add({"pntext"}, Kw::PnText);
        add({"object"}, Kw::Object);
        add({"result"}, Kw::Result);
        add({"nesttableprops"}, Kw::NestTableProps);
        add({"listtable"}, Kw::ListTable);
        add({"list"}, Kw::List);
        add({"listlevel"}, Kw::ListLevel);
        add({"leveltext"}, Kw::LevelText);
        add({"listoverridetable"}, Kw::ListOverrideTable);
        add({"listoverride"}, Kw::ListOverride);
        add({"pn"}, Kw::Pn);
        add({"pntxta"}, Kw::PnTxtA);
        add({"pntxtb"}, Kw::PnTxtB);
        add({"footnote"}, Kw::Footnote);
        add({"header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf"},
            Kw::HeaderFooter);
        add({"annotation"}, Kw::Annotation);
        add({"do"}, Kw::DrawingObject);
        // Destinations whose text is not part of the document, written with or without \*.
        add({"stylesheet", "info", "lfolevel", "revtbl", "rsidtbl", "filetbl", "pgdsctbl",
             "template", "xe", "tc", "txe", "rxe", "userprops", "docvar", "comment", "author",
             "operator", "title", "subject", "keywords", "doccomm", "company", "bkmkstart",
             "bkmkend", "atnid", "atnauthor", "atndate", "atnref", "atrfstart", "atrfend",
             "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn", "themedata",
             "colorschememapping", "datastore", "latentstyles", "xmlnstbl", "generator",
             "objdata", "objclass", "objname", "nonesttables", "fldtype", "formfield",
             "listpicture", "picprop", "blipuid", "panose", "falt", "fname",
             "levelnumbers", "listname", "mmathPr", "background", "private", "pgptbl",
             "protusertbl", "wgrffmtfilter", "passwordhash", "defchp", "defpap",
             "hlinkbase", "buptim", "creatim", "printim", "revtim"},
            Kw::SkipDestination);
        add({"f"}, Kw::F);
        add({"fcharset"}, Kw::FCharset);
        add({"cpg"}, Kw::Cpg);
        add({"red"}, Kw::Red);
        add({"green"}, Kw::Green);
        add({"blue"}, Kw::Blue);
        add({"plain"}, Kw::Plain);
        add({"b"}, Kw::B);
        add({"i"}, Kw::I);
        add({"ul", "ulw", "uldb", "ulth"}, Kw::Ul);
        add({"uld", "ulthd"}, Kw::UlDotted);
        add({"uldash", "ulthdash", "ulldash", "ulthldash"}, Kw::UlDash);
        add({"uldashd", "ulthdashd"}, Kw::UlDashDot);
        add({"uldashdd", "ulthdashdd"}, Kw::UlDashDotDot);
        add({"ulwave", "ulhwave", "ululdbwave"}, Kw::UlWave);
        add({"ulnone"}, Kw::UlNone);
        add({"strike", "striked"}, Kw::Strike);
        add({"caps"}, Kw::Caps);
        add({"up"}, Kw::Up);
        add({"dn"}, Kw::Dn);
        add({"scaps"}, Kw::SmallCaps);
        add({"fs"}, Kw::Fs);
        add({"cf"}, Kw::Cf);
        add({"cb"}, Kw::Cb);
        add({"highlight"}, Kw::Highlight);
        add({"chcbpat"}, Kw::ChCbPat);
        add({"super"}, Kw::Super);
        add({"sub"}, Kw::Sub);
        add({"nosupersub"}, Kw::NoSuperSub);
        add({"v"}, Kw::Hidden);
        add({"pard"}, Kw::Pard);
        add({"ql"}, Kw::Ql);
        add({"qc"}, Kw::Qc);
        add({"qr"}, Kw::Qr);
        add({"qj", "qd"}, Kw::Qj);
        add({"li", "lin"}, Kw::Li);
        add({"ri", "rin"}, Kw::Ri);
        add({"fi"}, Kw::Fi);
        add({"sb"}, Kw::Sb);
        add({"sa"}, Kw::Sa);
        add({"pagebb"}, Kw::PageBb);
        add({"sl"}, Kw::Sl);
        add({"slmult"}, Kw::SlMult);
        add({"tx"}, Kw::Tx);
        add({"tb"}, Kw::Tb);
        add({"tqr"}, Kw::Tqr);
        add({"tqc"}, Kw::Tqc);
        add({"tqdec"}, Kw::Tqdec);
        add({"tldot"}, Kw::TlDot);
        add({"tlhyph"}, Kw::TlHyph);
        add({"tlul"}, Kw::TlUl);
        add({"tlth"}, Kw::TlTh);
        add({"tleq"}, Kw::TlEq);
        add({"tlmdot"}, Kw::TlMdot);
        add({"intbl"}, Kw::InTbl);
        add({"itap"}, Kw::Itap);
        add({"trowd"}, Kw::Trowd);
        add({"cellx"}, Kw::Cellx);
        add({"clmgf"}, Kw::ClMgf);
        add({"clmrg"}, Kw::ClMrg);
        add({"clvmgf"}, Kw::ClVmgf);
        add({"clvmrg"}, Kw::ClVmrg);
        add({"trgaph"}, Kw::TrGaph);
        add({"trleft"}, Kw::TrLeft);
        add({"clbrdrt"}, Kw::ClBrdrT);
        add({"clbrdrl"}, Kw::ClBrdrL);
        add({"clbrdrb"}, Kw::ClBrdrB);
        add({"clbrdrr"}, Kw::ClBrdrR);
        // Borders of rows, paragraphs, characters and pages, whose properties a cell must not take.
        add({"trbrdrt", "trbrdrl", "trbrdrb", "trbrdrr", "trbrdrh", "trbrdrv", "brdrt", "brdrl", "brdrb",
             "brdrr", "brdrbox", "brdrbtw", "brdrbar", "chbrdr", "pgbrdrt", "pgbrdrl", "pgbrdrb", "pgbrdrr"},
            Kw::OtherBrdr);
        add({"brdrnone", "brdrnil", "brdrtbl"}, Kw::BrdrNone);
        // Border styles, by the QTextFrameFormat::BorderStyle they become.
        add({"brdrs", "brdrth", "brdrsh", "brdrhair", "brdrwavy", "brdrframe"}, Kw::BrdrSolid);
        add({"brdrdb", "brdrtriple", "brdrwavydb"}, Kw::BrdrDouble);
        add({"brdrdot"}, Kw::BrdrDotted);
        add({"brdrdash", "brdrdashsm"}, Kw::BrdrDashed);
        add({"brdrdashd"}, Kw::BrdrDotDash);
        add({"brdrdashdd"}, Kw::BrdrDotDotDash);
        add({"brdrengrave"}, Kw::BrdrGroove);
        add({"brdremboss"}, Kw::BrdrRidge);
        add({"brdrinset"}, Kw::BrdrInset);
        add({"brdroutset"}, Kw::BrdrOutset);
        add({"brdrw"}, Kw::BrdrW);
        add({"brdrcf"}, Kw::BrdrCf);
        add({"clcbpat"}, Kw::ClCbPat);
        add({"ls"}, Kw::Ls);
        add({"ilvl"}, Kw::Ilvl);
        add({"listid"}, Kw::ListId);
        add({"levelnfc", "levelnfcn"}, Kw::LevelNfc);
        add({"levelstartat"}, Kw::LevelStartAt);
        add({"levelnorestart"}, Kw::LevelNoRestart);
        add({"pnlvlblt"}, Kw::PnLvlBlt);
        add({"pnlvlbody"}, Kw::PnLvlBody);
        add({"pnlvl"}, Kw::PnLvl);
        add({"pndec"}, Kw::PnDec);
        add({"pnucltr"}, Kw::PnUcLtr);
        add({"pnlcltr"}, Kw::PnLcLtr);
        add({"pnucrm"}, Kw::PnUcRm);
        add({"pnlcrm"}, Kw::PnLcRm);
        add({"pnstart"}, Kw::PnStart);
        add({"pnprev"}, Kw::PnPrev);
        add({"par"}, Kw::Par);
        add({"line"}, Kw::Line);
        add({"tab"}, Kw::Tab);
        add({"cell"}, Kw::Cell);
        add({"nestcell"}, Kw::NestCell);
        add({"row"}, Kw::Row);
        add({"nestrow"}, Kw::NestRow);
        add({"page"}, Kw::Page);
        add({"sect"}, Kw::Sect);
        add({"u"}, Kw::U);
        add({"uc"}, Kw::Uc);
        add({"bin"}, Kw::Bin);
        add({"emdash"}, Kw::EmDash);
        add({"endash"}, Kw::EnDash);
        add({"emspace"}, Kw::EmSpace);
        add({"enspace"}, Kw::EnSpace);
        add({"qmspace"}, Kw::QmSpace);
        add({"bullet"}, Kw::Bullet);
        add({"lquote"}, Kw::LQuote);
        add({"rquote"}, Kw::RQuote);
        add({"ldblquote"}, Kw::LDblQuote);
        add({"rdblquote"}, Kw::RDblQuote);
        add({"zwj"}, Kw::Zwj);
        add({"zwnj"}, Kw::Zwnj);
        add({"ltrmark"}, Kw::LtrMark);
        add({"rtlmark"}, Kw::RtlMark);
        add({"pngblip"}, Kw::PngBlip);
        add({"jpegblip"}, Kw::JpegBlip);
        add({"dibitmap"}, Kw::DiBitmap);
        add({"wbitmap"}, Kw::WBitmap);
        add({"wmetafile"}, Kw::WMetafile);
        add({"emfblip"}, Kw::EmfBlip);
        add({"macpict"}, Kw::MacPict);
        add({"pmmetafile"}, Kw::PmMetafile);
        add({"picw"}, Kw::PicW);
        add({"pich"}, Kw::PicH);
        add({"picwgoal"}, Kw::PicWGoal);
        add({"pichgoal"}, Kw::PicHGoal);
        add({"picscalex"}, Kw::PicScaleX);
        add({"picscaley"}, Kw::PicScaleY);
        add({"wbmbitspixel"}, Kw::WbmBitsPixel);
        add({"wbmplanes"}, Kw::WbmPlanes);
        add({"wbmwidthbytes"}, Kw::WbmWidthBytes);
        return t;
    }();
    return table;
}

} // namespace Rtf::detail
