#!/usr/bin/env python3
"""The IDL to type description writer (scripts/idl_typedesc.py): what it
writes for the constructs it takes, and that it refuses the rest by line."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', '..', 'scripts'))
import idl_typedesc  # noqa: E402

LIBRARY = '''
import "oaidl.idl";
/* a block
   comment */
[uuid(00000000-1111-2222-3333-444444444444), version(2.3), lcid(9), helpstring("Lib \\"q\\""), hidden]
library SampleLib
{
  importlib("stdole2.tlb");
  [object, uuid(00000000-1111-2222-3333-555555555555), oleautomation, helpstring("ISample")]
  interface ISample : IDispatch
  {
    [propget, id(1)] HRESULT Count([out, retval] long *count);
    [propput, id(1)] HRESULT Count([in] long);   // the value unnamed
    [id(-5), helpstring("m")] HRESULT Mix([in] unsigned long a, double b, [in, optional] VARIANT *c,
                                           IDispatch *d, [out] IUnknown **e, [in, lcid] long f);
    [id(2)] HRESULT Nothing(void);
  };
  [object, uuid(00000000-1111-2222-3333-666666666666)]
  interface IPlain : IUnknown
  {
    [id(7)] HRESULT Flag([in] VARIANT_BOOL on);
  };
  [uuid(00000000-1111-2222-3333-777777777777), noncreatable, aggregatable]
  coclass Sample
  {
    [default] interface ISample;
    [source, restricted] interface IPlain;
  };
};
'''

EXPECTED = '''library SampleLib
  uuid 00000000-1111-2222-3333-444444444444
  version 2.3
  lcid 9
  helpstring "Lib \\"q\\""
  flags hidden hasdiskimage
  importlib "stdole2.tlb"

interface ISample
  uuid 00000000-1111-2222-3333-555555555555
  helpstring "ISample"
  flags oleautomation dispatchable
  base IDispatch
  propget 1 Count
    param count I4* out retval
  propput 1 Count
    param - I4 in
  method -5 Mix "m"
    param a UI4 in
    param b R8
    param c VARIANT* in opt
    param d DISPATCH
    param e UNKNOWN* out
    param f I4 in lcid
  method 2 Nothing
end

interface IPlain
  uuid 00000000-1111-2222-3333-666666666666
  base IUnknown
  method 7 Flag
    param on BOOL in
end

coclass Sample
  uuid 00000000-1111-2222-3333-777777777777
  flags noncreatable aggregatable
  implements ISample default
  implements IPlain source restricted
end
'''


def convert(text):
    return idl_typedesc.write(idl_typedesc.parse(text), 'sample.idl')


class Writes(unittest.TestCase):
    def test_every_construct_it_takes(self):
        lines = convert(LIBRARY).split('\n')
        self.assertEqual(lines[0], '# Generated from sample.idl at build time; edit the IDL, not this file.')
        self.assertEqual('\n'.join(lines[1:]), EXPECTED)

    def test_the_command_writes_the_file_and_fails_with_the_line(self):
        with tempfile.TemporaryDirectory() as folder:
            source, target = os.path.join(folder, 'x.idl'), os.path.join(folder, 'x.typedesc')
            with open(source, 'w') as f:
                f.write(LIBRARY)
            self.assertEqual(idl_typedesc.main(['idl_typedesc.py', source, target]), 0)
            with open(target) as f:
                self.assertTrue(f.read().endswith(EXPECTED))
            with open(source, 'w') as f:
                f.write(LIBRARY.replace('[id(2)]', '[id(2), vararg]'))
            os.remove(target)
            self.assertEqual(idl_typedesc.main(['idl_typedesc.py', source, target]), 1)
            self.assertFalse(os.path.exists(target))


class Refuses(unittest.TestCase):
    def refused(self, old, new, message):
        text = LIBRARY.replace(old, new)
        self.assertNotEqual(text, LIBRARY)
        with self.assertRaises(idl_typedesc.IdlError) as caught:
            convert(text)
        self.assertIn(message, str(caught.exception))

    def test_attributes_the_description_cannot_hold(self):
        self.refused('[id(2)]', '[id(2), vararg]', 'line 16: attribute vararg of a member')
        self.refused('[in, optional] VARIANT', '[in, defaultvalue(1)] VARIANT', 'attribute defaultvalue')
        self.refused('noncreatable', 'noncreatable, custom(1)', 'attribute custom of a coclass')
        self.refused('[id(2)]', '[id(2), id(3)]', 'attribute id is given twice')

    def test_members_without_an_id_or_an_hresult(self):
        self.refused('[id(2)] HRESULT Nothing', '[helpstring("n")] HRESULT Nothing', 'line 16: every member needs id')
        self.refused('[id(2)] HRESULT Nothing', '[id(2)] long Nothing', "expected 'HRESULT'")
        self.refused('[propget, id(1)]', '[propget, propput, id(1)]', 'one of propget')

    def test_types_and_names(self):
        self.refused('double b', 'float *** b', 'not supported')
        self.refused('double b', 'double * const b', 'type double * const is not supported')
        self.refused('double b', 'SAFEARRAY(BSTR) b', 'type SAFEARRAY')
        self.refused('double b', 'double', 'only the value of a property put may be unnamed')
        self.refused('IDispatch *d', 'IDispatch d', 'type IDispatch is not supported')

    def test_structure(self):
        self.refused('interface IPlain : IUnknown', 'interface IPlain : ISample', 'must derive from IDispatch')
        self.refused('[source, restricted] interface IPlain;', 'interface IOther;', 'IOther is not an interface')
        self.refused('import "oaidl.idl";', '[object, uuid(00000000-1111-2222-3333-555555555555)] '
                     'interface IOut : IUnknown { };', 'interfaces belong inside it')
        self.refused('uuid(00000000-1111-2222-3333-666666666666)', 'uuid(0000-1111)', 'interface IPlain needs uuid')
        self.refused('version(2.3)', 'version(2)', 'needs version')
        self.refused('helpstring("m")', 'helpstring("m\\t")', 'escape \\t')
        self.refused('importlib("stdole2.tlb");', 'typedef long T;', "'typedef' is not supported")
        self.refused('  };\n};\n', '  };\n', 'unexpected end of file')


if __name__ == '__main__':
    unittest.main()
